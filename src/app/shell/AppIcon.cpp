// The application's icon and the shell's resource helpers.
#include "app/shell/AppIcon.h"
#include "app/shell/ShellResources.h"

#include <QImage>
#include <QPainter>
#ifndef TRACER_PNG_PICTURES
#include <QSvgRenderer>
#endif

// The resources sit in a static library: nothing would pull their object file into the program
// unless something calls their registration.
static void RegisterShellResources() {
    Q_INIT_RESOURCE(shell);
}

void InitShellResources() {
    static const bool registered = (RegisterShellResources(), true);
    (void)registered;
}

QPixmap RenderSvg(const QString& resource, const QSize& size) {
    InitShellResources();
#ifdef TRACER_PNG_PICTURES
    // The drawing was rendered to a large PNG of the same name at build time.
    QString png = resource;
    png.replace(QLatin1String(".svg"), QLatin1String(".png"));
    const QImage image(png);
    if (image.isNull() || size.isEmpty())
        return {};
    QPixmap picture(size);
    picture.fill(Qt::transparent);
    const QImage scaled = image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&picture);
    painter.drawImage((size.width() - scaled.width()) / 2, (size.height() - scaled.height()) / 2, scaled);
    return picture;
#else
    QSvgRenderer renderer(resource);
    if (!renderer.isValid() || size.isEmpty())
        return {};
    QPixmap picture(size);
    picture.fill(Qt::transparent);
    const QSize drawn = renderer.defaultSize().scaled(size, Qt::KeepAspectRatio);
    const QRectF target((size.width() - drawn.width()) / 2.0, (size.height() - drawn.height()) / 2.0, drawn.width(),
                        drawn.height());
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, target);
    return picture;
#endif
}

QIcon AppIcon() {
    // Drawn at the sizes desktops ask for, so that no icon-engine plugin is needed at run time.
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(RenderSvg(QStringLiteral(":/shell/tracer-interface.svg"), QSize(side, side)));
    return icon;
}
