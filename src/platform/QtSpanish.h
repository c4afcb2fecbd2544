#pragma once

// Loads Qt's own Spanish texts (the buttons of the message boxes, the file and
// print dialogs, the command-line help) into the running application, whatever
// the system's locale: the whole interface is Spanish. False when the
// translation files are not installed; Qt's English texts stay then.
bool loadQtSpanish();
