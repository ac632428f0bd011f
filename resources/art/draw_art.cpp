// Paints the tool's artwork. Usage: draw_art <outdir> <name>...
//
// Every picture is drawn with QPainter from the shapes below; nothing is
// loaded from disk, and no font is used, so the output is the same on every
// build machine. Each PNG is painted twice: at its nominal size and, as
// "<name>@2x.png", at twice that size from the same vector drawing, so it is
// crisp on high-density screens. A name ending in "@2x.png" paints only the
// double-size picture. Icons (.ico) carry several sizes, each drawn for its
// own pixel size. An unknown name is an error: the build lists exactly the
// pictures it compiles in, and a typo must not go unnoticed.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QMap>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTransform>
#include <QVector>
#include <QtMath>
#include <cstdio>
#include <functional>
#include <utility>

namespace {

// The palette.
const QColor kPurple(0x4f, 0x3c, 0x89);
const QColor kPurpleLight(0x6a, 0x56, 0xb8);
const QColor kPurpleDark(0x3e, 0x2f, 0x6e);
const QColor kInk(0x32, 0x37, 0x42);
const QColor kSlate(0x58, 0x62, 0x76);
const QColor kMist(0x70, 0x7b, 0x91);
const QColor kIce(0xec, 0xf0, 0xf6);
const QColor kLine(0xe2, 0xe2, 0xe5);
const QColor kPaper(0xf4, 0xf4, 0xf4);
const QColor kWhite(0xff, 0xff, 0xff);
const QColor kGreen(0x2e, 0xc2, 0x7e);
const QColor kAmber(0xe8, 0xa2, 0x3a);
const QColor kRed(0xd9, 0x4c, 0x4c);

QColor alpha(QColor c, int a)
{
    c.setAlpha(a);
    return c;
}

// ---------------------------------------------------------------------------
// Drawing helpers

void linePen(QPainter& p, const QColor& c, qreal width)
{
    QPen pen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
}

void fill(QPainter& p, const QBrush& b)
{
    p.setPen(Qt::NoPen);
    p.setBrush(b);
}

void dot(QPainter& p, const QColor& c, qreal x, qreal y, qreal r)
{
    p.save();
    fill(p, c);
    p.drawEllipse(QPointF(x, y), r, r);
    p.restore();
}

void polyline(QPainter& p, std::initializer_list<QPointF> pts)
{
    QPainterPath path;
    bool first = true;
    for (const QPointF& pt : pts) {
        if (first)
            path.moveTo(pt);
        else
            path.lineTo(pt);
        first = false;
    }
    p.drawPath(path);
}

// A soft elliptic shadow under an object standing on the ground.
void groundShadow(QPainter& p, const QPointF& c, qreal rx, qreal ry, int strength)
{
    p.save();
    p.translate(c);
    p.scale(1.0, ry / rx);
    QRadialGradient g(QPointF(0, 0), rx);
    g.setColorAt(0.0, QColor(0x1c, 0x1f, 0x27, strength));
    g.setColorAt(0.6, QColor(0x1c, 0x1f, 0x27, strength / 3));
    g.setColorAt(1.0, QColor(0x1c, 0x1f, 0x27, 0));
    fill(p, g);
    p.drawEllipse(QPointF(0, 0), rx, rx);
    p.restore();
}

// ---------------------------------------------------------------------------
// Line glyphs on a 24-unit grid, stroked with the current pen (2 units wide,
// centred on whole units so that they are sharp at 1x and 2x).

using Glyph = void (*)(QPainter&, const QColor&);

void glyphInfo(QPainter& p, const QColor& c)
{
    linePen(p, c, 2);
    p.drawEllipse(QPointF(12, 12), 9, 9);
    p.drawLine(QPointF(12, 11), QPointF(12, 16.5));
    dot(p, c, 12, 7.5, 1.35);
}

void glyphStatus(QPainter& p, const QColor& c)
{
    linePen(p, c, 2);
    polyline(p, {{2.5, 12}, {6.5, 12}, {9.5, 5}, {14.5, 19}, {17.5, 12}, {21.5, 12}});
}

void glyphConfigure(QPainter& p, const QColor& c)
{
    linePen(p, c, 2);
    const qreal rows[3] = {6, 12, 18};
    const qreal knobs[3] = {15, 8, 13};
    for (int i = 0; i < 3; ++i) {
        const qreal y = rows[i], k = knobs[i];
        p.drawLine(QPointF(3, y), QPointF(k - 3.5, y));
        p.drawLine(QPointF(k + 3.5, y), QPointF(21, y));
        p.drawEllipse(QPointF(k, y), 2.5, 2.5);
    }
}

void glyphScan(QPainter& p, const QColor& c)
{
    linePen(p, c, 2);
    const qreal xs[5] = {4, 8, 12, 16, 20};
    const qreal half[5] = {2, 5, 8, 4, 1};
    for (int i = 0; i < 5; ++i)
        p.drawLine(QPointF(xs[i], 12 - half[i]), QPointF(xs[i], 12 + half[i]));
}

void glyphUpgrade(QPainter& p, const QColor& c)
{
    linePen(p, c, 2);
    p.drawLine(QPointF(12, 15), QPointF(12, 4));
    polyline(p, {{7.5, 8.5}, {12, 4}, {16.5, 8.5}});
    QPainterPath tray;
    tray.moveTo(4, 14);
    tray.lineTo(4, 17.5);
    tray.quadTo(4, 20, 6.5, 20);
    tray.lineTo(17.5, 20);
    tray.quadTo(20, 20, 20, 17.5);
    tray.lineTo(20, 14);
    p.drawPath(tray);
}

void glyphGroundUnit(QPainter& p, const QColor& c)
{
    linePen(p, c, 2);
    p.drawRoundedRect(QRectF(4, 12, 16, 8), 2, 2);
    p.drawLine(QPointF(7.5, 12), QPointF(6.5, 3.5));
    p.drawLine(QPointF(16.5, 12), QPointF(17.5, 3.5));
    dot(p, c, 8, 16, 1.2);
    dot(p, c, 11.5, 16, 1.2);
    p.drawLine(QPointF(15, 16), QPointF(16.5, 16));
}

void glyphFirmware(QPainter& p, const QColor& c)
{
    linePen(p, c, 2);
    QPainterPath doc;
    doc.moveTo(14, 3);
    doc.lineTo(7, 3);
    doc.quadTo(5, 3, 5, 5);
    doc.lineTo(5, 19);
    doc.quadTo(5, 21, 7, 21);
    doc.lineTo(17, 21);
    doc.quadTo(19, 21, 19, 19);
    doc.lineTo(19, 8);
    doc.closeSubpath();
    p.drawPath(doc);
    polyline(p, {{14, 3}, {14, 8}, {19, 8}});
    linePen(p, c, 1.75);
    polyline(p, {{10.5, 11.5}, {8.5, 14}, {10.5, 16.5}});
    polyline(p, {{13.5, 11.5}, {15.5, 14}, {13.5, 16.5}});
}

void glyphChip(QPainter& p, const QColor& c)
{
    linePen(p, c, 2);
    p.drawRoundedRect(QRectF(6, 6, 12, 12), 2, 2);
    for (qreal v : {9.0, 15.0}) {
        p.drawLine(QPointF(v, 2.5), QPointF(v, 6));
        p.drawLine(QPointF(v, 18), QPointF(v, 21.5));
        p.drawLine(QPointF(2.5, v), QPointF(6, v));
        p.drawLine(QPointF(18, v), QPointF(21.5, v));
    }
    p.save();
    fill(p, c);
    p.drawRoundedRect(QRectF(10, 10, 4, 4), 1, 1);
    p.restore();
}

void glyphLayers(QPainter& p, const QColor& c)
{
    linePen(p, c, 2);
    QPainterPath top;
    top.moveTo(12, 3);
    top.lineTo(21, 8);
    top.lineTo(12, 13);
    top.lineTo(3, 8);
    top.closeSubpath();
    p.drawPath(top);
    polyline(p, {{3, 12}, {12, 17}, {21, 12}});
    polyline(p, {{3, 16}, {12, 21}, {21, 16}});
}

void glyphCard(QPainter& p, const QColor& c)
{
    linePen(p, c, 2);
    p.drawRoundedRect(QRectF(3, 5, 18, 14), 2.5, 2.5);
    p.drawEllipse(QPointF(8.5, 10.5), 2, 2);
    p.drawLine(QPointF(6.5, 15), QPointF(10.5, 15));
    p.drawLine(QPointF(14, 10), QPointF(18, 10));
    p.drawLine(QPointF(14, 14), QPointF(17, 14));
}

// ---------------------------------------------------------------------------
// The emblem: a rounded tile holding a "Q" ring whose tail runs out like a
// cable, a unit at its centre and one radio wave.

struct EmblemColours {
    QColor top, bottom, glyph;
};

void paintEmblem(QPainter& p, const QRectF& r, const EmblemColours& col, bool tiny)
{
    const qreal s = r.width();
    p.save();
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, col.top);
    g.setColorAt(1, col.bottom);
    fill(p, g);
    p.drawRoundedRect(r, s * 0.26, s * 0.26);

    const QPointF c = r.topLeft() + QPointF(s * 0.46, s * 0.48);
    const qreal ring = s * 0.235;
    linePen(p, col.glyph, qMax<qreal>(s * 0.095, 1.6));
    p.drawEllipse(c, ring, ring);
    const qreal d = ring * 0.7071;
    p.drawLine(c + QPointF(d * 0.55, d * 0.55), c + QPointF(s * 0.33, s * 0.33));
    if (!tiny) {
        dot(p, col.glyph, c.x(), c.y(), s * 0.065);
        linePen(p, col.glyph, qMax<qreal>(s * 0.07, 1.2));
        const qreal wave = ring + s * 0.13;
        QPainterPath arc;
        arc.arcMoveTo(QRectF(c.x() - wave, c.y() - wave, 2 * wave, 2 * wave), 22);
        arc.arcTo(QRectF(c.x() - wave, c.y() - wave, 2 * wave, 2 * wave), 22, 50);
        p.drawPath(arc);
    }
    p.restore();
}

// ---------------------------------------------------------------------------
// The wordmark "Quorlan", drawn as monoline strokes. Returns the centre
// lines per letter, the first one being the "Q".

struct Wordmark {
    QVector<QPainterPath> letters;
    qreal stroke = 0;
    QRectF bounds() const
    {
        QRectF b;
        for (const QPainterPath& l : letters)
            b = b.united(l.boundingRect());
        const qreal h = stroke / 2;
        return b.adjusted(-h, -h, h, h);
    }
};

Wordmark layoutWordmark(qreal x, qreal base, qreal cap, qreal xh, qreal w)
{
    Wordmark wm;
    wm.stroke = w;
    const qreal h = w / 2;
    const qreal top = base - xh + h;   // centre line of the x-height
    const qreal bottom = base - h;     // centre line of the baseline
    const qreal gap = w * 1.05;        // space between letters

    // Q
    {
        QPainterPath q;
        const qreal qw = cap * 1.04;
        const QRectF ring(x + h, base - cap + h, qw - w, cap - w);
        q.addEllipse(ring);
        const QPointF c = ring.center();
        q.moveTo(c + QPointF(ring.width() * 0.16, ring.height() * 0.16));
        q.lineTo(QPointF(x + qw + w * 0.2, base + w * 0.55));
        wm.letters << q;
        x += qw + gap;
    }
    const qreal bowl = xh;           // width of o, a
    const qreal arch = xh * 0.86;    // width of u, n
    // u
    {
        QPainterPath u;
        const qreal r = (arch - w) / 2;
        u.moveTo(x + h, top);
        u.lineTo(x + h, bottom - r);
        u.arcTo(QRectF(x + h, bottom - 2 * r, 2 * r, 2 * r), 180, 180);
        u.moveTo(x + arch - h, top);
        u.lineTo(x + arch - h, bottom);
        wm.letters << u;
        x += arch + gap;
    }
    // o
    {
        QPainterPath o;
        o.addEllipse(QRectF(x + h, top, bowl - w, bottom - top));
        wm.letters << o;
        x += bowl + gap;
    }
    // r
    {
        QPainterPath r;
        r.moveTo(x + h, top);
        r.lineTo(x + h, bottom);
        const qreal rr = xh * 0.42;
        const QRectF shoulder(x + h, top, 2 * rr, 2 * rr);
        r.arcMoveTo(shoulder, 180);
        r.arcTo(shoulder, 180, -95);
        wm.letters << r;
        x += w + rr * 1.05 + gap * 0.8;
    }
    // l
    {
        QPainterPath l;
        l.moveTo(x + h, base - cap - w * 0.35 + h);
        l.lineTo(x + h, bottom);
        wm.letters << l;
        x += w + gap;
    }
    // a
    {
        QPainterPath a;
        a.addEllipse(QRectF(x + h, top, bowl - w, bottom - top));
        a.moveTo(x + bowl - h, top);
        a.lineTo(x + bowl - h, bottom);
        wm.letters << a;
        x += bowl + gap;
    }
    // n
    {
        QPainterPath n;
        const qreal r = (arch - w) / 2;
        n.moveTo(x + h, top);
        n.lineTo(x + h, bottom);
        n.moveTo(x + h, bottom);
        n.lineTo(x + h, top + r);
        n.arcTo(QRectF(x + h, top, 2 * r, 2 * r), 180, -180);
        n.lineTo(x + arch - h, bottom);
        wm.letters << n;
    }
    return wm;
}

void paintWordmark(QPainter& p, const Wordmark& wm, const QColor& q, const QColor& rest)
{
    for (int i = 0; i < wm.letters.size(); ++i) {
        linePen(p, i == 0 ? q : rest, wm.stroke);
        p.drawPath(wm.letters.at(i));
    }
}

// The logo: emblem, then the wordmark; 33 pixels high at 1x.
const qreal kLogoHeight = 33;
Wordmark logoWordmark() { return layoutWordmark(42, 24.5, 16, 11.5, 2.5); }

struct Brand {
    EmblemColours emblem;
    QColor wordQ, word;
    // Ground and air unit casing.
    QColor bodyTop, bodyBottom, panel, panelEdge, detail, port;
    QColor rodDark, rodLight, hinge;
    QColor accent;
    bool logo = true;
};

Brand quorlanBrand()
{
    Brand b;
    b.emblem = {QColor(0x5f, 0x4a, 0xa3), kPurpleDark, kWhite};
    b.wordQ = kPurple;
    b.word = kInk;
    b.bodyTop = QColor(0x44, 0x4b, 0x5a);
    b.bodyBottom = QColor(0x27, 0x2b, 0x34);
    b.panel = QColor(0x2e, 0x33, 0x3d);
    b.panelEdge = QColor(255, 255, 255, 28);
    b.detail = QColor(0x1b, 0x1e, 0x25);
    b.port = QColor(0x14, 0x16, 0x1b);
    b.rodDark = QColor(0x25, 0x29, 0x31);
    b.rodLight = QColor(0x4d, 0x55, 0x66);
    b.hinge = QColor(0x1f, 0x23, 0x2a);
    b.accent = QColor(0x8b, 0x76, 0xe0);
    return b;
}

// The second brand: light casing, dark emblem, purple accents.
Brand marlowBrand()
{
    Brand b;
    b.emblem = {QColor(0x48, 0x4f, 0x5e), QColor(0x26, 0x2a, 0x32), kWhite};
    b.wordQ = kInk;
    b.word = kPurple;
    b.bodyTop = QColor(0xf7, 0xf8, 0xfb);
    b.bodyBottom = QColor(0xcf, 0xd5, 0xe0);
    b.panel = QColor(0xe6, 0xea, 0xf1);
    b.panelEdge = QColor(0x70, 0x7b, 0x91, 60);
    b.detail = QColor(0xa9, 0xb1, 0xc1);
    b.port = QColor(0x32, 0x37, 0x42);
    b.rodDark = QColor(0x32, 0x37, 0x42);
    b.rodLight = QColor(0x62, 0x6b, 0x7e);
    b.hinge = QColor(0x58, 0x62, 0x76);
    b.accent = kPurple;
    return b;
}

void paintLogo(QPainter& p, const Brand& b)
{
    paintEmblem(p, QRectF(1, 1, 31, 31), b.emblem, false);
    paintWordmark(p, logoWordmark(), b.wordQ, b.word);
}

QSize logoSize()
{
    const QRectF r = logoWordmark().bounds();
    return QSize(qCeil(r.right()) + 2, int(kLogoHeight));
}

// ---------------------------------------------------------------------------
// The units. Drawn in their own coordinates; callers place them.

// Light catching the top edge of a casing, fading down its sides.
void topEdgeLight(QPainter& p, const QRectF& body, qreal radius)
{
    QLinearGradient g(0, body.top(), 0, body.top() + radius * 1.6);
    g.setColorAt(0, QColor(255, 255, 255, 70));
    g.setColorAt(1, QColor(255, 255, 255, 0));
    p.save();
    p.setPen(QPen(QBrush(g), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(body.adjusted(1.2, 1.2, -1.2, -1.2), radius, radius);
    p.restore();
}

// One antenna rod standing on its hinge at (0, 0), pointing up.
void paintRod(QPainter& p, const Brand& b, qreal length, qreal width)
{
    const qreal hw = width / 2;
    QLinearGradient g(-hw, 0, hw, 0);
    g.setColorAt(0.0, b.rodDark);
    g.setColorAt(0.38, b.rodLight);
    g.setColorAt(1.0, b.rodDark);
    fill(p, g);
    p.drawRoundedRect(QRectF(-hw, -length, width, length), hw, hw);
    // Joint ring a quarter up the rod.
    fill(p, alpha(b.hinge, 255));
    p.drawRoundedRect(QRectF(-hw - 0.5, -length * 0.3, width + 1, width * 0.42), 1.5, 1.5);
    // Hinge block.
    p.drawRoundedRect(QRectF(-hw * 1.45, -width * 0.9, width * 1.45, width * 1.2), 3.5, 3.5);
    fill(p, QColor(255, 255, 255, 34));
    p.drawRoundedRect(QRectF(-hw * 0.55, -length + width * 0.7, width * 0.22, length * 0.6), 1, 1);
}

// Ground unit: 240 x 230 units; body 220 x 106 at the bottom, two antennas.
void paintGroundUnit(QPainter& p, const Brand& b)
{
    groundShadow(p, QPointF(120, 216), 124, 12, 70);

    for (int side : {-1, 1}) {
        p.save();
        p.translate(120 + side * 78, 114);
        p.rotate(side * 8);
        paintRod(p, b, 112, 14);
        p.restore();
    }

    const QRectF body(10, 108, 220, 106);
    QLinearGradient g(body.topLeft(), body.bottomLeft());
    g.setColorAt(0, b.bodyTop);
    g.setColorAt(1, b.bodyBottom);
    fill(p, g);
    p.drawRoundedRect(body, 18, 18);

    topEdgeLight(p, body, 17);

    const QRectF panel(24, 123, 192, 74);
    p.setPen(QPen(b.panelEdge, 1));
    p.setBrush(b.panel);
    p.drawRoundedRect(panel, 10, 10);

    if (b.logo)
        paintEmblem(p, QRectF(36, 135, 26, 26), b.emblem, false);

    // Status lights: link, power, activity.
    const QColor leds[3] = {kGreen, b.accent, kAmber};
    for (int i = 0; i < 3; ++i) {
        const QPointF c(78 + i * 15, 148);
        QRadialGradient halo(c, 8);
        halo.setColorAt(0, alpha(leds[i], 110));
        halo.setColorAt(1, alpha(leds[i], 0));
        fill(p, halo);
        p.drawEllipse(c, 8, 8);
        dot(p, leds[i], c.x(), c.y(), 3.2);
        dot(p, QColor(255, 255, 255, 150), c.x() - 0.9, c.y() - 0.9, 1.1);
    }

    // USB-C port.
    fill(p, b.port);
    p.drawRoundedRect(QRectF(36, 174, 30, 10), 5, 5);
    fill(p, alpha(b.detail, 255));
    p.drawRoundedRect(QRectF(41, 178, 20, 2.2), 1.1, 1.1);
    fill(p, b.panelEdge);
    p.drawRoundedRect(QRectF(74, 178, 44, 2.2), 1.1, 1.1);

    // Vent slots.
    fill(p, b.detail);
    for (int i = 0; i < 7; ++i)
        p.drawRoundedRect(QRectF(140 + i * 10, 136, 4.5, 48), 2.25, 2.25);

    // Accent line.
    fill(p, b.accent);
    p.drawRoundedRect(QRectF(34, 203, 172, 3), 1.5, 1.5);
}

// Air unit: 210 x 170 units; a flat module with heat-sink fins and two
// paddle antennas on short leads.
void paintAirUnit(QPainter& p, const Brand& b, bool shadow)
{
    if (shadow)
        groundShadow(p, QPointF(105, 158), 96, 10, 60);

    // Leads and paddles.
    for (int side : {-1, 1}) {
        const qreal x0 = 105 + side * 46;
        QPainterPath lead;
        lead.moveTo(x0, 70);
        lead.cubicTo(x0, 48, 105 + side * 70, 44, 105 + side * 86, 28);
        linePen(p, b.rodDark, 4.5);
        p.drawPath(lead);
        p.save();
        p.translate(105 + side * 86, 28);
        p.rotate(side * 38);
        QLinearGradient g(-7, 0, 7, 0);
        g.setColorAt(0, b.rodDark);
        g.setColorAt(0.4, b.rodLight);
        g.setColorAt(1, b.rodDark);
        fill(p, g);
        p.drawRoundedRect(QRectF(-7, -40, 14, 46), 6, 6);
        fill(p, b.hinge);
        p.drawRoundedRect(QRectF(-4.5, -2, 9, 8), 2, 2);
        fill(p, QColor(255, 255, 255, 34));
        p.drawRoundedRect(QRectF(-3.5, -34, 2.5, 28), 1, 1);
        p.restore();
        fill(p, b.hinge);
        p.drawRoundedRect(QRectF(x0 - 7, 62, 14, 12), 3, 3);
    }

    const QRectF body(20, 66, 170, 86);
    QLinearGradient g(body.topLeft(), body.bottomLeft());
    g.setColorAt(0, b.bodyTop);
    g.setColorAt(1, b.bodyBottom);
    fill(p, g);
    p.drawRoundedRect(body, 14, 14);
    topEdgeLight(p, body, 13);

    // Fins.
    fill(p, b.detail);
    for (int i = 0; i < 8; ++i)
        p.drawRoundedRect(QRectF(34 + i * 11.5, 80, 5, 58), 2.5, 2.5);

    // Right-hand panel: emblem and link light.
    p.setPen(QPen(b.panelEdge, 1));
    p.setBrush(b.panel);
    p.drawRoundedRect(QRectF(132, 78, 46, 62), 8, 8);
    if (b.logo)
        paintEmblem(p, QRectF(143, 86, 24, 24), b.emblem, false);
    QRadialGradient halo(QPointF(155, 126), 7);
    halo.setColorAt(0, alpha(kGreen, 110));
    halo.setColorAt(1, alpha(kGreen, 0));
    fill(p, halo);
    p.drawEllipse(QPointF(155, 126), 7, 7);
    dot(p, kGreen, 155, 126, 2.8);

    fill(p, b.accent);
    p.drawRoundedRect(QRectF(34, 144, 90, 2.5), 1.25, 1.25);
}

// About page picture: the ground unit.
const QSize kDevPictureSize(320, 300);

void paintDevPicture(QPainter& p, const Brand& b)
{
    QRadialGradient glow(QPointF(160, 150), 150);
    glow.setColorAt(0, alpha(kPurple, 22));
    glow.setColorAt(1, alpha(kPurple, 0));
    fill(p, glow);
    p.drawEllipse(QPointF(160, 150), 150, 150);
    p.save();
    p.translate(160 - 120 * 1.2, 22);
    p.scale(1.2, 1.2);
    paintGroundUnit(p, b);
    p.restore();
}

// Start page picture: the air unit talking to the ground unit, which is
// cabled to the computer. Stretched over the start page's picture label
// (about 700 x 370 at the window's initial size).
const QSize kMainPictureSize(700, 370);

void paintMainPicture(QPainter& p, const Brand& b)
{
    // Backdrop.
    QRadialGradient glow(QPointF(350, 190), 250);
    glow.setColorAt(0, alpha(kPurple, 26));
    glow.setColorAt(0.7, alpha(kPurple, 10));
    glow.setColorAt(1, alpha(kPurple, 0));
    fill(p, glow);
    p.drawEllipse(QPointF(350, 190), 250, 250);
    linePen(p, alpha(kPurple, 40), 1);
    p.drawEllipse(QPointF(350, 190), 168, 168);
    QPen dashed(alpha(kPurple, 34), 1, Qt::DashLine, Qt::RoundCap);
    dashed.setDashPattern({4, 6});
    p.setPen(dashed);
    p.drawEllipse(QPointF(350, 190), 210, 210);

    // Air unit, left, in flight: tilted a little, its shadow on the ground
    // far below it.
    QTransform airAt;
    airAt.translate(52, 84);
    airAt.translate(105, 100);
    airAt.rotate(-4);
    airAt.translate(-105, -100);
    airAt.scale(0.95, 0.95);
    groundShadow(p, QPointF(150, 322), 84, 8, 34);
    p.save();
    p.setTransform(airAt, true);
    paintAirUnit(p, b, false);
    p.restore();

    // Ground unit, right.
    QTransform groundAt;
    groundAt.translate(400, 74);
    groundAt.scale(1.13, 1.13);

    // USB cable from the ground unit's left side down to the plug.
    const QPointF port = groundAt.map(QPointF(10, 180));
    const QPointF plug(330, 344);
    QPainterPath cable;
    cable.moveTo(port + QPointF(6, 0));
    cable.cubicTo(port + QPointF(-40, 0), plug + QPointF(0, -80), plug + QPointF(0, -14));
    linePen(p, b.rodDark, 5);
    p.drawPath(cable);
    fill(p, b.rodDark);
    p.drawRoundedRect(QRectF(plug.x() - 8, plug.y() - 20, 16, 22), 4, 4);
    fill(p, QColor(0xc9, 0xce, 0xd8));
    p.drawRoundedRect(QRectF(plug.x() - 6, plug.y() + 1, 12, 13), 1.5, 1.5);
    fill(p, QColor(0x9a, 0xa2, 0xb2));
    p.drawRect(QRectF(plug.x() - 3.5, plug.y() + 4, 2.5, 2.5));
    p.drawRect(QRectF(plug.x() + 1, plug.y() + 4, 2.5, 2.5));

    p.save();
    p.setTransform(groundAt, true);
    paintGroundUnit(p, b);
    p.restore();

    // The radio link: waves around the facing antenna tips and a dotted
    // path arching between them.
    const QPointF airTip = airAt.map(QTransform().translate(191, 28).rotate(38).map(QPointF(0, -40)));
    const QPointF gndTip = groundAt.map(QTransform().translate(42, 114).rotate(-8).map(QPointF(0, -112)));
    const QPointF d = gndTip - airTip;
    const qreal len = qSqrt(d.x() * d.x() + d.y() * d.y());
    const QPointF u = d / len;
    const qreal ang = qRadiansToDegrees(qAtan2(-d.y(), d.x()));
    for (int k = 0; k < 3; ++k) {
        const qreal r = 12 + k * 9;
        linePen(p, alpha(kPurple, 210 - k * 60), 2.2);
        for (const auto& end : {std::make_pair(airTip, ang), std::make_pair(gndTip, ang + 180)}) {
            const QRectF rc(end.first.x() - r, end.first.y() - r, 2 * r, 2 * r);
            QPainterPath wave;
            wave.arcMoveTo(rc, end.second - 30);
            wave.arcTo(rc, end.second - 30, 60);
            p.drawPath(wave);
        }
    }
    const QPointF from = airTip + u * 42, to = gndTip - u * 42;
    const QPointF span = to - from;
    const int n = qMax(2, int(len / 12));
    for (int i = 0; i <= n; ++i) {
        const qreal t = qreal(i) / n;
        const QPointF pt = from + span * t + QPointF(0, -qSin(t * M_PI) * 22);
        dot(p, alpha(kPurple, int(90 + 130 * qSin(t * M_PI))), pt.x(), pt.y(), 2.1);
    }
}

// ---------------------------------------------------------------------------
// Switch pictures, 50 x 26: purple with the knob right when on, grey with
// the knob left when off.

void paintSwitch(QPainter& p, bool on)
{
    const QRectF track(1, 1, 48, 24);
    fill(p, on ? kPurple : QColor(0xc8, 0xcd, 0xd6));
    p.drawRoundedRect(track, 12, 12);
    if (on) {
        linePen(p, QColor(255, 255, 255, 190), 1.75);
        p.drawLine(QPointF(14, 9), QPointF(14, 17));
    } else {
        linePen(p, QColor(255, 255, 255, 210), 1.75);
        p.drawEllipse(QPointF(36, 13), 4, 4);
    }
    const QPointF knob(on ? 37 : 13, 13);
    for (int i = 3; i >= 1; --i)
        dot(p, QColor(0x1c, 0x1f, 0x27, 16), knob.x(), knob.y() + 0.9, 9.2 + i * 0.5);
    dot(p, kWhite, knob.x(), knob.y(), 9.5);
}

// ---------------------------------------------------------------------------
// Generic skin set, one per folder: "White" for light surfaces (what the
// style sheet uses), "Black" for dark ones.

struct Skin {
    QColor boxFill, boxBorder, boxHover, onFill, mark, disFill, disBorder, onDisFill, onDisMark, glyph, glyphHover;
};

Skin whiteSkin()
{
    return {kWhite, QColor(0xb1, 0xb8, 0xc5), kPurple, kPurple, kWhite, kPaper, kLine,
            QColor(0xc6, 0xbf, 0xdc), kWhite, kSlate, kPurple};
}

Skin blackSkin()
{
    return {kInk, kMist, QColor(0x9b, 0x8c, 0xd9), kPurpleLight, kWhite, QColor(0x3a, 0x3f, 0x4b),
            QColor(0x4a, 0x51, 0x62), QColor(0x4b, 0x45, 0x68), QColor(0x9a, 0xa1, 0xb2), kIce, kWhite};
}

enum class Box { Unchecked, UncheckedHover, Checked, Disabled, CheckedDisabled };

void paintCheckBox(QPainter& p, const Skin& s, Box state)
{
    const QRectF r(0.5, 0.5, 15, 15);
    QColor fillC = s.boxFill, edge = s.boxBorder;
    bool mark = false;
    QColor markC = s.mark;
    switch (state) {
    case Box::Unchecked: break;
    case Box::UncheckedHover: edge = s.boxHover; break;
    case Box::Checked: fillC = edge = s.onFill; mark = true; break;
    case Box::Disabled: fillC = s.disFill; edge = s.disBorder; break;
    case Box::CheckedDisabled: fillC = edge = s.onDisFill; mark = true; markC = s.onDisMark; break;
    }
    p.setPen(QPen(edge, 1));
    p.setBrush(fillC);
    p.drawRoundedRect(r, 3.5, 3.5);
    if (mark) {
        linePen(p, markC, 2);
        polyline(p, {{4.2, 8.2}, {6.9, 10.9}, {11.8, 5.6}});
    }
}

void paintRadio(QPainter& p, const Skin& s, Box state)
{
    const QPointF c(8, 8);
    QColor fillC = s.boxFill, edge = s.boxBorder, markC = s.mark;
    bool mark = false;
    switch (state) {
    case Box::Unchecked: break;
    case Box::UncheckedHover: edge = s.boxHover; break;
    case Box::Checked: fillC = edge = s.onFill; mark = true; break;
    case Box::Disabled: fillC = s.disFill; edge = s.disBorder; break;
    case Box::CheckedDisabled: fillC = edge = s.onDisFill; mark = true; markC = s.onDisMark; break;
    }
    p.setPen(QPen(edge, 1));
    p.setBrush(fillC);
    p.drawEllipse(c, 7.5, 7.5);
    if (mark)
        dot(p, markC, c.x(), c.y(), 3);
}

// Chevron on a 12-unit grid, pointing in the given direction (degrees,
// 0 = down).
void paintChevron(QPainter& p, const QColor& c, qreal rotation)
{
    p.translate(6, 6);
    p.rotate(rotation);
    linePen(p, c, 1.6);
    polyline(p, {{-3.5, -1.75}, {0, 1.75}, {3.5, -1.75}});
}

enum class WinButton { Min, Max, Restore, Close };

void paintWindowButton(QPainter& p, const QColor& c, WinButton which)
{
    linePen(p, c, 1.25);
    switch (which) {
    case WinButton::Min:
        p.drawLine(QPointF(3.5, 8.5), QPointF(12.5, 8.5));
        break;
    case WinButton::Max:
        p.drawRoundedRect(QRectF(3.5, 3.5, 9, 9), 1.5, 1.5);
        break;
    case WinButton::Restore: {
        p.drawRoundedRect(QRectF(3.5, 5.5, 7, 7), 1.5, 1.5);
        QPainterPath back;
        back.moveTo(5.5, 3.5);
        back.lineTo(11, 3.5);
        back.quadTo(12.5, 3.5, 12.5, 5);
        back.lineTo(12.5, 10.5);
        p.drawPath(back);
        break;
    }
    case WinButton::Close:
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    }
}

enum class Message { Info, Warning, Error, Question };

// Message icons, 32 x 32; on dark surfaces the purple ones are lighter.
void paintMessage(QPainter& p, Message m, bool dark)
{
    const QPointF c(16, 16);
    switch (m) {
    case Message::Info:
        dot(p, dark ? kPurpleLight : kPurple, c.x(), c.y(), 14);
        linePen(p, kWhite, 2.75);
        p.drawLine(QPointF(16, 14.5), QPointF(16, 22.5));
        dot(p, kWhite, 16, 9.5, 1.85);
        break;
    case Message::Question: {
        dot(p, dark ? QColor(0x8a, 0x78, 0xd0) : kPurpleLight, c.x(), c.y(), 14);
        linePen(p, kWhite, 2.75);
        QPainterPath q;
        const QRectF arc(11.8, 7.5, 8.4, 8.4);
        q.arcMoveTo(arc, 160);
        q.arcTo(arc, 160, -220);
        q.quadTo(QPointF(16, 16.6), QPointF(16, 18.6));
        p.drawPath(q);
        dot(p, kWhite, 16, 23.3, 1.85);
        break;
    }
    case Message::Warning: {
        QPainterPath tri;
        tri.moveTo(16, 4);
        tri.lineTo(28.5, 26.5);
        tri.lineTo(3.5, 26.5);
        tri.closeSubpath();
        QPen pen(kAmber, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        p.setBrush(kAmber);
        p.drawPath(tri);
        linePen(p, kWhite, 2.75);
        p.drawLine(QPointF(16, 11.5), QPointF(16, 18.5));
        dot(p, kWhite, 16, 23, 1.85);
        break;
    }
    case Message::Error:
        dot(p, kRed, c.x(), c.y(), 14);
        linePen(p, kWhite, 2.75);
        p.drawLine(QPointF(11.5, 11.5), QPointF(20.5, 20.5));
        p.drawLine(QPointF(20.5, 11.5), QPointF(11.5, 20.5));
        break;
    }
}

// ---------------------------------------------------------------------------
// The catalogue

struct Art {
    QSize size;                       // at 1x
    std::function<void(QPainter&)> paint;
};

// A line icon on the 24-unit grid.
Art icon24(Glyph g, QColor c)
{
    return {QSize(24, 24), [g, c](QPainter& p) { g(p, c); }};
}

// An information-row picture: the glyph on a tinted tile.
Art tile36(Glyph g)
{
    return {QSize(36, 36), [g](QPainter& p) {
                fill(p, alpha(kPurple, 24));
                p.drawRoundedRect(QRectF(0, 0, 36, 36), 10, 10);
                p.translate(6, 6);
                g(p, kPurple);
            }};
}

QMap<QString, Art> catalogue()
{
    QMap<QString, Art> c;
    const Brand quorlan = quorlanBrand();
    Brand bare = quorlan;
    bare.logo = false;
    const Brand marlow = marlowBrand();

    c.insert("Black/logo.png", {logoSize(), [quorlan](QPainter& p) { paintLogo(p, quorlan); }});
    c.insert("Black/logo-marlow.png", {logoSize(), [marlow](QPainter& p) { paintLogo(p, marlow); }});
    c.insert("Black/dev_picture.png", {kDevPictureSize, [quorlan](QPainter& p) { paintDevPicture(p, quorlan); }});
    c.insert("Black/dev_picture_marlow.png", {kDevPictureSize, [marlow](QPainter& p) { paintDevPicture(p, marlow); }});
    c.insert("White/dev_picture_nologo.png", {kDevPictureSize, [bare](QPainter& p) { paintDevPicture(p, bare); }});
    c.insert("Black/main_page_dev.png", {kMainPictureSize, [quorlan](QPainter& p) { paintMainPicture(p, quorlan); }});
    c.insert("Black/main_page_dev_marlow.png", {kMainPictureSize, [marlow](QPainter& p) { paintMainPicture(p, marlow); }});
    c.insert("White/main_page_dev_nologo.png", {kMainPictureSize, [bare](QPainter& p) { paintMainPicture(p, bare); }});

    // Navigation, unchecked grey and checked purple.
    const struct { const char* off; const char* on; Glyph g; } nav[] = {
        {"info_uncheck", "info_check", glyphInfo},
        {"dev_status", "dev_status_check", glyphStatus},
        {"configure", "configure_check", glyphConfigure},
        {"scanfrequency", "scanfreq_check", glyphScan},
        {"upgrade", "upgrade_check", glyphUpgrade},
    };
    for (const auto& n : nav) {
        c.insert(QStringLiteral("Black/%1.png").arg(QLatin1String(n.off)), icon24(n.g, kSlate));
        c.insert(QStringLiteral("Black/%1.png").arg(QLatin1String(n.on)), icon24(n.g, kPurple));
    }
    c.insert("Black/deviceinfo.png", icon24(glyphCard, kPurple));

    // The application icon of the desktop entry: the window icon's emblem,
    // square, at 256 px (and 512 px as its "@2x" copy). Installed beside
    // the program, not compiled in.
    c.insert("quorlan.png", {QSize(256, 256), [](QPainter& p) {
                 paintEmblem(p, QRectF(10, 10, 236, 236), {QColor(0x5f, 0x4a, 0xa3), kPurpleDark, kWhite}, false);
             }});

    // Information rows.
    c.insert("Black/dev_type.png", tile36(glyphGroundUnit));
    c.insert("Black/firmware_version.png", tile36(glyphFirmware));
    c.insert("Black/fpga_version.png", tile36(glyphChip));
    c.insert("Black/soft_version.png", tile36(glyphLayers));

    c.insert("Black/arrowBottom.png", {QSize(12, 12), [](QPainter& p) { paintChevron(p, kSlate, 0); }});
    c.insert("Black/open2.png", {QSize(50, 26), [](QPainter& p) { paintSwitch(p, true); }});
    c.insert("Black/shutdown.png", {QSize(50, 26), [](QPainter& p) { paintSwitch(p, false); }});

    const struct { const char* folder; Skin skin; } skins[] = {{"White", whiteSkin()}, {"Black", blackSkin()}};
    for (const auto& sk : skins) {
        const QString f = QLatin1String(sk.folder);
        const Skin s = sk.skin;
        const struct { const char* name; Box state; } boxes[] = {
            {"unchecked", Box::Unchecked}, {"unchecked_hover", Box::UncheckedHover},
            {"checked", Box::Checked}, {"disabled", Box::Disabled},
            {"checked_disabled", Box::CheckedDisabled},
        };
        for (const auto& b : boxes) {
            const Box st = b.state;
            c.insert(f + "/checkbox_" + b.name + ".png",
                     {QSize(16, 16), [s, st](QPainter& p) { paintCheckBox(p, s, st); }});
            c.insert(f + "/radio_" + b.name + ".png",
                     {QSize(16, 16), [s, st](QPainter& p) { paintRadio(p, s, st); }});
        }
        const struct { const char* name; qreal rot; } arrows[] = {
            {"up", 180}, {"down", 0}, {"left", 90}, {"right", -90}};
        for (const auto& a : arrows) {
            const qreal rot = a.rot;
            c.insert(f + "/arrow_" + a.name + ".png",
                     {QSize(12, 12), [s, rot](QPainter& p) { paintChevron(p, s.glyph, rot); }});
            c.insert(f + "/arrow_" + a.name + "_hover.png",
                     {QSize(12, 12), [s, rot](QPainter& p) { paintChevron(p, s.glyphHover, rot); }});
        }
        const struct { const char* name; WinButton which; } wins[] = {
            {"min", WinButton::Min}, {"max", WinButton::Max},
            {"restore", WinButton::Restore}, {"close", WinButton::Close}};
        for (const auto& w : wins) {
            const WinButton which = w.which;
            c.insert(f + "/win_" + w.name + ".png",
                     {QSize(16, 16), [s, which](QPainter& p) { paintWindowButton(p, s.glyph, which); }});
        }
        const struct { const char* name; Message m; } msgs[] = {
            {"info", Message::Info}, {"warning", Message::Warning},
            {"error", Message::Error}, {"question", Message::Question}};
        for (const auto& m : msgs) {
            const Message which = m.m;
            const bool dark = f == QLatin1String("Black");
            c.insert(f + "/msg_" + m.name + ".png",
                     {QSize(32, 32), [which, dark](QPainter& p) { paintMessage(p, which, dark); }});
        }
    }
    return c;
}

QImage render(const Art& art, int scale)
{
    QImage img(art.size * scale, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    p.scale(scale, scale);
    art.paint(p);
    p.end();
    return img;
}

// ---------------------------------------------------------------------------
// Window icons. Each size is drawn for its own pixel grid; the single-image
// files that Qt's "ico" writer produces are then merged into one icon file.

using IconPainter = std::function<void(QPainter&, int)>;

QMap<QString, IconPainter> icons()
{
    QMap<QString, IconPainter> c;
    c.insert("Black/IT_USB.ico", [](QPainter& p, int px) {
        const qreal m = px <= 16 ? 0 : px * 0.04;
        paintEmblem(p, QRectF(m, m, px - 2 * m, px - 2 * m),
                    {QColor(0x5f, 0x4a, 0xa3), kPurpleDark, kWhite}, px < 24);
    });
    c.insert("Black/IT_USB2.ico", [](QPainter& p, int px) {
        const qreal m = px <= 16 ? 0.5 : px * 0.04 + 0.5;
        const QRectF r(m, m, px - 2 * m, px - 2 * m);
        p.setPen(QPen(kLine, 1));
        p.setBrush(kWhite);
        p.drawRoundedRect(r, r.width() * 0.26, r.width() * 0.26);
        paintEmblem(p, r.adjusted(1, 1, -1, -1), {kWhite, kIce, kPurple}, px < 24);
    });
    return c;
}

bool writeIco(const QString& path, const IconPainter& paint)
{
    const int sizes[] = {16, 20, 24, 32, 40, 48, 64, 128, 256};
    QVector<QByteArray> entries, data;
    for (int px : sizes) {
        QImage img(px, px, QImage::Format_ARGB32);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        paint(p, px);
        p.end();
        QBuffer buf;
        buf.open(QIODevice::WriteOnly);
        QImageWriter w(&buf, "ico");
        if (!w.write(img)) {
            std::fprintf(stderr, "cannot encode %s: %s\n", qPrintable(path), qPrintable(w.errorString()));
            return false;
        }
        const QByteArray one = buf.data();
        // ICONDIR (6 bytes), one ICONDIRENTRY (16 bytes), then the image.
        if (one.size() < 22 || quint8(one[4]) != 1 || quint8(one[5]) != 0) {
            std::fprintf(stderr, "unexpected icon encoding for %s\n", qPrintable(path));
            return false;
        }
        entries << one.mid(6, 16);
        data << one.mid(22);
    }
    QByteArray out;
    const int count = entries.size();
    out.append(char(0)).append(char(0)).append(char(1)).append(char(0));
    out.append(char(count & 0xff)).append(char(count >> 8));
    quint32 offset = 6 + 16 * count;
    for (int i = 0; i < count; ++i) {
        QByteArray e = entries[i];
        const quint32 size = quint32(data[i].size());
        for (int b = 0; b < 4; ++b) {
            e[8 + b] = char((size >> (8 * b)) & 0xff);
            e[12 + b] = char((offset >> (8 * b)) & 0xff);
        }
        out.append(e);
        offset += size;
    }
    for (const QByteArray& d : data)
        out.append(d);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(out) != out.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool savePng(const QImage& img, const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: draw_art <outdir> <name>...\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QMap<QString, Art> arts = catalogue();
    const QMap<QString, IconPainter> icos = icons();
    const QString twice = QStringLiteral("@2x.png");

    for (int i = 2; i < argc; ++i) {
        const QString name = QString::fromLocal8Bit(argv[i]);
        const QString path = out + QLatin1Char('/') + name;
        // "icon-<px>.png": the window icon's emblem drawn for a pixel size
        // of its own, for the desktop's icon theme.
        if (name.startsWith(QLatin1String("icon-")) && name.endsWith(QLatin1String(".png"))) {
            bool ok = false;
            const int px = name.mid(5, name.size() - 9).toInt(&ok);
            if (!ok || px < 8 || px > 1024) {
                std::fprintf(stderr, "draw_art: bad icon size in %s\n", qPrintable(name));
                return 1;
            }
            QImage img(px, px, QImage::Format_ARGB32);
            img.fill(Qt::transparent);
            QPainter p(&img);
            p.setRenderHint(QPainter::Antialiasing);
            icos.value(QStringLiteral("Black/IT_USB.ico"))(p, px);
            p.end();
            if (!img.save(path, "PNG"))
                return 1;
            continue;
        }
        if (icos.contains(name)) {
            QDir().mkpath(QFileInfo(path).absolutePath());
            if (!writeIco(path, icos.value(name)))
                return 1;
            continue;
        }
        const bool onlyDouble = name.endsWith(twice);
        const QString base = onlyDouble ? name.left(name.size() - twice.size()) + QStringLiteral(".png") : name;
        if (!arts.contains(base)) {
            std::fprintf(stderr, "draw_art: unknown image %s\n", qPrintable(name));
            return 1;
        }
        const Art& art = arts[base];
        if (!onlyDouble && !savePng(render(art, 1), path))
            return 1;
        const QString doublePath = out + QLatin1Char('/') + base.left(base.size() - 4) + twice;
        if (!savePng(render(art, 2), doublePath))
            return 1;
    }
    return 0;
}
