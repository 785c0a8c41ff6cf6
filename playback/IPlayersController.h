#pragma once
// What the application's start-up and main window drive of the playback
// controller.

#include <cstddef>
#include <memory>
#include <string>

#include <boost/signals2/signal.hpp>

struct StartOptions;
class QRect;
class QWidget;

namespace render {
class Renderer;
}

class IPlayersController {
public:
    virtual ~IPlayersController() = default;

    // Raised once a windowless export or frame save has ended, with its
    // result code; may come from any thread.
    boost::signals2::signal<void(int)> Completed;
    // Raised on the GUI thread when an opened source gave no channel, with
    // a sentence for the user naming the path and the reason. The players
    // are gone then and the window takes another source as before.
    boost::signals2::signal<void(const std::string&)> NothingToPlay;

    // Starts the renderer on target, opens the start sources and, with a
    // destination in the options, runs the export or frame save. Called once.
    virtual void Initialize(const StartOptions& options, QWidget* target, const QRect& area) = 0;
    // Opens the sources of a command line that a second instance forwarded.
    virtual void OpenSource(const StartOptions& options) = 0;
    // Stores the controller's state into the application settings.
    virtual void SaveState() = 0;
    // Tasks of the running export run; 0 when none runs.
    virtual int RunningExportTasks() const = 0;
    // The renderer that draws the window; null when there is none.
    virtual const std::shared_ptr<render::Renderer>& GetRenderer() const
    {
        static const std::shared_ptr<render::Renderer> none;
        return none;
    }
    // Makes the channel's player the current one (a press on its picture).
    virtual void SelectPlayer(size_t /*index*/) {}
};
