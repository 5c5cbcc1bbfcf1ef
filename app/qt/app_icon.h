#pragma once
// The program's icon: window, task bar, About box.
#include <QIcon>

QIcon QuorvelIcon();
