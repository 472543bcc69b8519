// The application's icon, drawn from its SVG resource.
#pragma once

#include <QIcon>

QIcon AppIcon();
