// Draws Korvinet's icon at build time: a scalable SVG and PNGs of the sizes
// the desktop's icon theme asks for, all from one set of shapes, so the
// pictures cannot drift apart.
//
//   korvinet_make_icon <output.svg> [<size> <output.png>]...
//
// The design sits on a 256 × 256 canvas: a rounded tile, a yellow disc with
// the black three-bladed radiation sign, and a green count trace across the
// foot of the tile.

#include <QColor>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPointF>
#include <QString>
#include <QTextStream>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr double kCanvas = 256.0;
constexpr double kPi = 3.14159265358979323846;

const QColor kTile(0x24, 0x41, 0x5f);
const QColor kDisc(0xf4, 0xc4, 0x30);
const QColor kSign(0x1a, 0x1a, 0x1a);
const QColor kTraceColor(0x7e, 0xe0, 0x81);

constexpr double kTileInset = 8.0;
constexpr double kTileRadius = 40.0;
const QPointF kDiscCentre(128.0, 112.0);
constexpr double kDiscRadius = 84.0;
constexpr double kHubRadius = 12.0;
constexpr double kBladeInner = 18.0;
constexpr double kBladeOuter = 72.0;
constexpr double kBladeHalfWidthDeg = 30.0;
// Blade centres, clockwise from the x axis with y pointing down: one blade
// points up, two point down to the sides.
constexpr std::array<double, 3> kBladeAnglesDeg{-90.0, 30.0, 150.0};
constexpr double kTraceWidth = 10.0;
const std::array<QPointF, 9> kTracePoints{{{28, 214},
                                     {70, 214},
                                     {84, 190},
                                     {98, 228},
                                     {112, 204},
                                     {148, 204},
                                     {160, 178},
                                     {172, 214},
                                     {228, 214}}};

QPointF Polar(double radius, double degrees) {
    const double a = degrees * kPi / 180.0;
    return kDiscCentre + QPointF(radius * std::cos(a), radius * std::sin(a));
}

QString Num(double v) {
    return QString::number(v, 'f', 2);
}

QString Pt(const QPointF& p) {
    return Num(p.x()) + QLatin1Char(',') + Num(p.y());
}

QString Svg() {
    QString s;
    QTextStream out(&s);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
           "viewBox=\"0 0 256 256\">\n";
    const double side = kCanvas - 2 * kTileInset;
    out << "  <rect x=\"" << Num(kTileInset) << "\" y=\"" << Num(kTileInset) << "\" width=\""
        << Num(side) << "\" height=\"" << Num(side) << "\" rx=\"" << Num(kTileRadius)
        << "\" fill=\"" << kTile.name() << "\"/>\n";
    out << "  <circle cx=\"" << Num(kDiscCentre.x()) << "\" cy=\"" << Num(kDiscCentre.y())
        << "\" r=\"" << Num(kDiscRadius) << "\" fill=\"" << kDisc.name() << "\"/>\n";
    for (double centre : kBladeAnglesDeg) {
        const double from = centre - kBladeHalfWidthDeg;
        const double to = centre + kBladeHalfWidthDeg;
        // Outer arc clockwise (sweep 1), inner arc back (sweep 0).
        out << "  <path d=\"M" << Pt(Polar(kBladeOuter, from)) << " A" << Num(kBladeOuter) << ','
            << Num(kBladeOuter) << " 0 0 1 " << Pt(Polar(kBladeOuter, to)) << " L"
            << Pt(Polar(kBladeInner, to)) << " A" << Num(kBladeInner) << ','
            << Num(kBladeInner) << " 0 0 0 " << Pt(Polar(kBladeInner, from))
            << " Z\" fill=\"" << kSign.name() << "\"/>\n";
    }
    out << "  <circle cx=\"" << Num(kDiscCentre.x()) << "\" cy=\"" << Num(kDiscCentre.y())
        << "\" r=\"" << Num(kHubRadius) << "\" fill=\"" << kSign.name() << "\"/>\n";
    out << "  <polyline points=\"";
    for (std::size_t i = 0; i < kTracePoints.size(); ++i)
        out << (i ? " " : "") << Pt(kTracePoints[i]);
    out << "\" fill=\"none\" stroke=\"" << kTraceColor.name() << "\" stroke-width=\""
        << Num(kTraceWidth) << "\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>\n";
    out << "</svg>\n";
    return s;
}

QPainterPath Blade(double centre) {
    // Arcs as fine polygons: at 256 pixels a 1-degree step is smooth.
    QPainterPath path;
    const double from = centre - kBladeHalfWidthDeg;
    const double to = centre + kBladeHalfWidthDeg;
    path.moveTo(Polar(kBladeOuter, from));
    for (double a = from + 1.0; a <= to; a += 1.0)
        path.lineTo(Polar(kBladeOuter, a));
    for (double a = to; a >= from; a -= 1.0)
        path.lineTo(Polar(kBladeInner, a));
    path.closeSubpath();
    return path;
}

QImage Png(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / kCanvas, size / kCanvas);
    p.setPen(Qt::NoPen);
    p.setBrush(kTile);
    const double side = kCanvas - 2 * kTileInset;
    p.drawRoundedRect(QRectF(kTileInset, kTileInset, side, side), kTileRadius, kTileRadius);
    p.setBrush(kDisc);
    p.drawEllipse(kDiscCentre, kDiscRadius, kDiscRadius);
    p.setBrush(kSign);
    for (double centre : kBladeAnglesDeg)
        p.drawPath(Blade(centre));
    p.drawEllipse(kDiscCentre, kHubRadius, kHubRadius);
    QPen trace(kTraceColor, kTraceWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(trace);
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(kTracePoints.data(), int(kTracePoints.size()));
    p.end();
    return image;
}

} // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    if (argc < 2 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: %s <output.svg> [<size> <output.png>]...\n", argv[0]);
        return 2;
    }
    QFile svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        svg.write(Svg().toUtf8()) < 0 || !svg.flush()) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    for (int i = 2; i + 1 < argc; i += 2) {
        const int size = std::atoi(argv[i]);
        if (size <= 0 || !Png(size).save(QString::fromLocal8Bit(argv[i + 1]), "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", argv[i + 1]);
            return 1;
        }
    }
    return 0;
}
