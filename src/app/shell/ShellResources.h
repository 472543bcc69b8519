// The shell's compiled-in resources (icon, splash and question pictures) and their rendering.
#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

// Registers the resources of this static library; safe to call any number of times.
void InitShellResources();

// The SVG resource drawn into a transparent pixmap of `size`, keeping its aspect ratio and
// centred; a null pixmap when the resource cannot be read.
QPixmap RenderSvg(const QString& resource, const QSize& size);
