#pragma once
// The engines' report and interface live with the players controller that
// drives them.

#include "playback/PlayerExport.h"
