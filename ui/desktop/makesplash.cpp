// makesplash: draws the splash image (a PNG) that the window shows while it starts, at build time,
// so that the repository holds no binary file. The disc and its badge are the icon's
// (tambrel.svg), drawn here in the icon's own units.
//
// Usage: makesplash OUT
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdio>

namespace
{

constexpr QSize SplashSize(480, 280);

const QColor Accent(0x1f, 0x6f, 0x8b);
const QColor Title(0x15, 0x45, 0x57);
const QColor Subtitle(0x46, 0x65, 0x71);
const QColor Quiet(0x6f, 0x88, 0x93);

// An annulus sector of the disc around (58, 58), from angle `from` to `to`, in degrees clockwise
// from three o'clock as in SVG.
QPainterPath sector(qreal inner, qreal outer, qreal from, qreal to)
{
    const QPointF centre(58, 58);
    const QRectF outerBox(centre - QPointF(outer, outer), QSizeF(2 * outer, 2 * outer));
    const QRectF innerBox(centre - QPointF(inner, inner), QSizeF(2 * inner, 2 * inner));
    QPainterPath path;
    path.arcMoveTo(outerBox, -from);
    path.arcTo(outerBox, -from, from - to);
    path.arcTo(innerBox, -to, to - from);
    path.closeSubpath();
    return path;
}

// The icon's motif, its disc centred on `centre` and `scale` pixels to one icon unit.
void drawMotif(QPainter& painter, QPointF centre, qreal scale)
{
    painter.save();
    painter.translate(centre);
    painter.scale(scale, scale);
    painter.translate(-58, -58);

    QPainterPath disc;
    disc.setFillRule(Qt::OddEvenFill);
    disc.addEllipse(QPointF(58, 58), 50, 50);
    disc.addEllipse(QPointF(58, 58), 7, 7);
    QLinearGradient surface(18, 10, 100, 108);
    surface.setColorAt(0, QColor(0xf8, 0xfb, 0xfc));
    surface.setColorAt(1, QColor(0xcd, 0xdf, 0xe6));
    painter.setPen(QPen(Accent, 6));
    painter.setBrush(surface);
    painter.drawPath(disc);

    painter.setPen(Qt::NoPen);
    QColor sheen(0x8c, 0xc4, 0xd6);
    sheen.setAlphaF(0.45f);
    painter.setBrush(sheen);
    painter.drawPath(sector(21, 45, 195, 245));
    painter.drawPath(sector(21, 45, 15, 65));

    painter.setBrush(Qt::NoBrush);
    QColor groove = Accent;
    groove.setAlphaF(0.18f);
    painter.setPen(QPen(groove, 1.5));
    painter.drawEllipse(QPointF(58, 58), 34, 34);
    groove.setAlphaF(0.12f);
    painter.setPen(QPen(groove, 1.5));
    painter.drawEllipse(QPointF(58, 58), 42, 42);
    painter.setPen(QPen(Accent, 9));
    painter.drawEllipse(QPointF(58, 58), 12, 12);

    painter.setPen(QPen(Qt::white, 5));
    painter.setBrush(Accent);
    painter.drawEllipse(QPointF(100, 100), 24, 24);
    painter.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawLine(QPointF(100, 86), QPointF(100, 110));
    const QPointF head[] = {{90, 100}, {100, 110}, {110, 100}};
    painter.drawPolyline(head, 3);
    painter.restore();
}

// A faint waveform along the bottom edge: bars whose heights follow two slow sines, so the
// picture is the same on every build.
void drawWaveform(QPainter& painter)
{
    QColor bar = Accent;
    bar.setAlphaF(0.10f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(bar);
    const qreal middle = SplashSize.height() - 22;
    for (int x = 4; x < SplashSize.width(); x += 6) {
        const qreal envelope = std::abs(std::sin(x * 0.013 + 0.6));
        const qreal h = 3 + 15 * envelope * (0.55 + 0.45 * std::abs(std::sin(x * 0.21)));
        painter.drawRoundedRect(QRectF(x, middle - h, 3, 2 * h), 1.5, 1.5);
    }
}

QFont font(int pixelSize, QFont::Weight weight)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

QImage drawSplash()
{
    QImage image(SplashSize, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);

    QLinearGradient background(0, 0, 0, SplashSize.height());
    background.setColorAt(0, QColor(0xfb, 0xfd, 0xfe));
    background.setColorAt(1, QColor(0xe4, 0xee, 0xf2));
    painter.fillRect(image.rect(), background);
    drawWaveform(painter);

    drawMotif(painter, QPointF(124, 124), 1.5);

    const qreal left = 250;
    painter.setPen(Title);
    painter.setFont(font(44, QFont::Bold));
    painter.drawText(QPointF(left - 2, 116), QStringLiteral("Tambrel"));
    painter.setPen(Subtitle);
    painter.setFont(font(18, QFont::Normal));
    painter.drawText(QPointF(left, 148), QStringLiteral("Audio CD ripper"));
    painter.setPen(Qt::NoPen);
    painter.setBrush(Accent);
    painter.drawRoundedRect(QRectF(left, 164, 44, 4), 2, 2);
    painter.setPen(Quiet);
    painter.setFont(font(13, QFont::Normal));
    painter.drawText(QPointF(left, 192), QStringLiteral("Version " TAMBREL_VERSION));

    // A hairline frame, so the splash stands apart from a light desktop.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QColor(0xb4, 0xca, 0xd3));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(image.rect().adjusted(0, 0, -1, -1));
    painter.end();
    return image;
}

} // namespace

int main(int argc, char* argv[])
{
    // Drawing needs no display; the build machine may have none.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() != 2) {
        std::fputs("Usage: makesplash OUT\nDraws the splash image, a PNG, into OUT.\n", stderr);
        return 2;
    }
    // The name's extension is not the format's, so the format is named.
    if (!drawSplash().save(args.at(1), "PNG")) {
        std::fprintf(stderr, "makesplash: cannot write %s\n", qPrintable(args.at(1)));
        return 1;
    }
    return 0;
}
