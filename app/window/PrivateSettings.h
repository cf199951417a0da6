#pragma once
// Qt's own widgets keep their state in the user's configuration folder: the file dialogs write their
// sidebar places, history and column layout into QtProject.conf, which every Qt program shares. This
// program keeps no settings and must not change another program's, so Qt's user settings go to a
// private folder that lives as long as the process. It starts with a copy of the user's QtProject.conf,
// so the dialogs still look the way the user set them up.
#include <QString>

// Idempotent; call before the first dialog is created. Returns the private folder (empty when none
// could be made; Qt then keeps its usual place).
QString KeepQtSettingsPrivate();
