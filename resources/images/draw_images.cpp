// Draws the bundle's pictures as PNG files into the folder given as the one argument; the build runs it
// and copies the files into each bundle's Resources. Everything is drawn with plain shapes, no text, so
// the pictures are the same on every machine. Painting into images needs no application object, so no
// platform plugin is loaded and nothing is made outside the folder.
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <functional>

namespace {

const QColor kAccent(0, 118, 186);
const QColor kDeep(0, 62, 112);

bool save(const QString& folder, const char* name, QSize size, const std::function<void(QPainter&)>& draw) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    // 96 dots an inch, the density of the pictures' pixel sizes.
    image.setDotsPerMeterX(3780);
    image.setDotsPerMeterY(3780);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    painter.end();
    const QString path = folder + u'/' + QString::fromLatin1(name) + QStringLiteral(".png");
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// A presentation screen on its stand, with a play mark; the phone's remote in the corner when asked.
void drawScreen(QPainter& p, const QRectF& area, const QColor& ink, qreal line, bool withPhone) {
    const QRectF screen(area.left(), area.top(), area.width(), area.height() * 0.68);
    p.setPen(QPen(ink, line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(screen, line, line);
    const QPointF foot(screen.center().x(), screen.bottom());
    p.drawLine(foot, foot + QPointF(0, area.height() * 0.2));
    p.drawLine(QPointF(screen.left() + screen.width() * 0.3, area.bottom() - line / 2),
               QPointF(screen.right() - screen.width() * 0.3, area.bottom() - line / 2));
    QPainterPath play;
    const QPointF c = screen.center();
    const qreal s = screen.height() * 0.22;
    play.moveTo(c + QPointF(-s * 0.7, -s));
    play.lineTo(c + QPointF(s, 0));
    play.lineTo(c + QPointF(-s * 0.7, s));
    play.closeSubpath();
    p.setBrush(ink);
    p.drawPath(play);
    if (withPhone) {
        const QRectF phone(area.right() - area.width() * 0.22, area.bottom() - area.height() * 0.55,
                           area.width() * 0.2, area.height() * 0.55);
        p.setBrush(QColor(255, 255, 255));
        p.drawRoundedRect(phone, line * 1.5, line * 1.5);
        p.drawLine(QPointF(phone.center().x() - line, phone.bottom() - line * 2),
                   QPointF(phone.center().x() + line, phone.bottom() - line * 2));
    }
}

void drawLight(QPainter& p, const QColor& colour) {
    QRadialGradient shine(QPointF(4.5, 4.0), 7.0);
    shine.setColorAt(0, colour.lighter(170));
    shine.setColorAt(1, colour);
    p.setPen(QPen(colour.darker(140), 1));
    p.setBrush(shine);
    p.drawEllipse(QRectF(0.5, 0.5, 11, 11));
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    bool ok = true;
    ok &= save(folder, "statusIcon", {22, 22},
               [](QPainter& p) { drawScreen(p, QRectF(2.5, 3, 17, 16), QColor(32, 32, 32), 1.6, false); });
    ok &= save(folder, "greenLight", {12, 12}, [](QPainter& p) { drawLight(p, QColor(46, 184, 92)); });
    ok &= save(folder, "redLight", {12, 12}, [](QPainter& p) { drawLight(p, QColor(222, 64, 52)); });
    ok &= save(folder, "expandButton", {37, 466}, [](QPainter& p) {
        QColor fill = kAccent;
        fill.setAlpha(200);
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawRoundedRect(QRectF(4, 0, 33, 466), 8, 8);
        p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        for (const qreal y : {213.0, 233.0}) {
            p.drawLine(QPointF(15, y - 8), QPointF(25, y));
            p.drawLine(QPointF(25, y), QPointF(15, y + 8));
        }
    });
    ok &= save(folder, "background", {410, 600}, [](QPainter& p) {
        QLinearGradient sky(0, 0, 0, 600);
        sky.setColorAt(0, kAccent.lighter(125));
        sky.setColorAt(1, kDeep);
        p.fillRect(QRectF(0, 0, 410, 600), sky);
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 5; ++i) {
            p.setBrush(QColor(255, 255, 255, 12 + 4 * i));
            p.drawEllipse(QPointF(60 + 80 * i, 500 - 25 * i), 90 - 10 * i, 90 - 10 * i);
        }
    });
    const QColor accents[] = {kAccent, QColor(0, 150, 120), QColor(120, 80, 180)};
    for (int version = 1; version <= 3; ++version) {
        const QByteArray name = "version" + QByteArray::number(version);
        ok &= save(folder, name.constData(), {160, 100}, [&](QPainter& p) {
            p.fillRect(QRectF(0, 0, 160, 100), QColor(248, 249, 251));
            drawScreen(p, QRectF(24, 14, 112, 74), accents[version - 1], 3, version != 1);
        });
    }
    return ok ? 0 : 1;
}
