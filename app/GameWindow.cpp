#include "app/GameWindow.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <cmath>

#include "core/FrameTick.h"
#include "input/Keyboard.h"
#include "input/Pointer.h"

namespace kestrel {
namespace {

constexpr std::int16_t MIDDLE_BUTTON = 4;
constexpr std::int16_t BACK_BUTTON = 8;
constexpr std::int16_t FORWARD_BUTTON = 16;

}  // namespace

std::int16_t ButtonNumber(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton: return LEFT_BUTTON;
        case Qt::RightButton: return RIGHT_BUTTON;
        case Qt::MiddleButton: return MIDDLE_BUTTON;
        case Qt::BackButton: return BACK_BUTTON;
        case Qt::ForwardButton: return FORWARD_BUTTON;
        default: return 0;
    }
}

std::optional<std::uint16_t> CharacterCode(int key, const QString& text) {
    if (key == Qt::Key_Escape) return ESC_CODE;
    if (text.isEmpty()) return std::nullopt;
    return text.at(0).unicode();
}

// The timer is the window's child, found by its name like any other.
GameWindow::GameWindow()
    : canvas_(START_INNER_WIDTH, START_INNER_HEIGHT, devicePixelRatioF()), tmr(this) {
    setWindowTitle(QStringLiteral("3D Kestrel"));
    resize(START_INNER_WIDTH, START_INNER_HEIGHT);
    setMinimumSize(1, 1);
    // The picture is opaque and kept by the window; Qt need not clear under it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    // Every move counts, button or not: the handlers keep track of the depth
    // under the pointer.
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);

    tmr.setObjectName(QStringLiteral("tmr"));
    tmr.setTimerType(Qt::PreciseTimer);
    tmr.setInterval(TICK_MS);
    connect(&tmr, &QTimer::timeout, this, &GameWindow::Tick);
    tmr.start();
}

void GameWindow::Tick() {
    // A window moved to a screen of another density keeps its size but not
    // its pixel ratio; the picture follows at once.
    if (devicePixelRatioF() != canvas_.PixelRatio()) {
        MatchCanvasToWindow();
        update();
    }
    FrameTick(battlefield_, canvas_, random_);
    ShowChanges();
}

// Only the part that changed is repainted; nothing at all when nothing did.
void GameWindow::ShowChanges() {
    const PixelRect dirty = CanvasUnitsCovering(canvas_.TakeDirtyRect(), canvas_.PixelRatio(),
                                                width(), height());
    if (!dirty.Empty()) update(dirty.left, dirty.top, dirty.Width(), dirty.Height());
}

QImage GameWindow::PictureImage() const {
    QImage image(canvas_.Bytes(), canvas_.DeviceWidth(), canvas_.DeviceHeight(),
                 qsizetype(canvas_.BytesPerLine()), QImage::Format_RGBX8888);
    image.setDevicePixelRatio(canvas_.PixelRatio());
    return image;
}

void GameWindow::paintEvent(QPaintEvent* event) {
    const QImage picture = PictureImage();
    QPainter painter(this);
    // The picture may hold more device pixels than canvas units: scale each
    // source rectangle to match.
    const qreal ratio = canvas_.PixelRatio();
    for (const QRect& area : event->region()) {
        const QRectF source(area.x() * ratio, area.y() * ratio, area.width() * ratio,
                            area.height() * ratio);
        painter.drawImage(QRectF(area), picture, source);
    }
}

void GameWindow::resizeEvent(QResizeEvent*) { MatchCanvasToWindow(); }

void GameWindow::MatchCanvasToWindow() {
    canvas_.Resize(width(), height(), devicePixelRatioF());
    canvas_.TakeDirtyRect();  // a resize repaints the whole window anyway
}

void GameWindow::mousePressEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    PointerDown(battlefield_, canvas_, ButtonNumber(event->button()), 0, float(at.x()),
                float(at.y()));
    ShowChanges();
}

void GameWindow::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    PointerMove(battlefield_, canvas_, 0, 0, float(at.x()), float(at.y()));
    ShowChanges();
}

void GameWindow::mouseReleaseEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    PointerUp(battlefield_, canvas_, ButtonNumber(event->button()), 0, float(at.x()),
              float(at.y()));
    ShowChanges();
}

void GameWindow::keyPressEvent(QKeyEvent* event) {
    const auto code = CharacterCode(event->key(), event->text());
    if (!code) return;
    if (KeyPressed(battlefield_, canvas_, *code) == KeyAction::Quit) {
        // No further tick: the timer stops before the event loop is left.
        tmr.stop();
        QCoreApplication::exit(0);
        return;
    }
    ShowChanges();
}

}  // namespace kestrel
