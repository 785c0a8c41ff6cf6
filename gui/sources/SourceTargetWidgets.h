#pragma once
// The pages of the source browser that edit one path: a description label,
// the path edit and a "..." button that opens a chooser. The edit follows
// the model's path; typing changes the model, Enter or a chosen path accepts.

#include <memory>

#include <QString>
#include <QWidget>
#include <boost/signals2/connection.hpp>
#include <boost/signals2/signal.hpp>

class QLabel;
class QCustomLineEdit;

namespace model {
class SingleSourceTargetModel;
}

class QSingleSourceTargetWidget : public QWidget {
    Q_OBJECT

public:
    explicit QSingleSourceTargetWidget(QWidget* parent = nullptr);
    ~QSingleSourceTargetWidget() override;

    // Raised on Enter in the edit and after a path was chosen.
    boost::signals2::signal<void()> Accepted;

    void SetModel(std::shared_ptr<model::SingleSourceTargetModel> model);
    const std::shared_ptr<model::SingleSourceTargetModel>& GetModel() const { return m_model; }
    QLabel* DescriptionLabel() const { return m_label; }
    QCustomLineEdit* PathEdit() const { return m_edit; }

protected:
    // The chosen path, or "" when nothing was chosen.
    virtual QString ChooseSource() { return QString(); }

private slots:
    void on_btnChooseButton_clicked();

private:
    void OnTextEdited(const QString& text);

    QLabel* m_label;
    QCustomLineEdit* m_edit;
    std::shared_ptr<model::SingleSourceTargetModel> m_model;
    std::vector<boost::signals2::scoped_connection> m_modelConnections;
};

// Chooses one exported archive or media file.
class QFileSourceTargetWidget : public QSingleSourceTargetWidget {
    Q_OBJECT

public:
    using QSingleSourceTargetWidget::QSingleSourceTargetWidget;

protected:
    QString ChooseSource() override;
};

// Chooses a folder; cancelling keeps the current path.
class QFolderSourceTargetWidget : public QSingleSourceTargetWidget {
    Q_OBJECT

public:
    using QSingleSourceTargetWidget::QSingleSourceTargetWidget;

protected:
    QString ChooseSource() override;
};
