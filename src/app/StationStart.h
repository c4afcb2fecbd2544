#pragma once

#include "station/uPrincipal.h"

// The application's identity: its name, which the settings paths of Qt use.
// It sets no display name: the window system would append it to every
// caption, and each window's caption must read exactly as the window sets it.
// The application title is the caption of the standard error box.
void setApplicationIdentity();

// Creates the windows in their order, each after the one before has run its
// creation handler, and hands the secondary windows to the main window.
TfPrincipal* createStationWindows(StationMode mode = StationMode::Collector);
