#include "app/GameWindow.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <string_view>

namespace kestrel {

MouseButton ButtonOf(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton: return MouseButton::Left;
        case Qt::RightButton: return MouseButton::Right;
        case Qt::MiddleButton: return MouseButton::Middle;
        case Qt::BackButton: return MouseButton::Back;
        case Qt::ForwardButton: return MouseButton::Forward;
        default: return MouseButton::Other;
    }
}

std::optional<std::uint16_t> CharacterCode(int key, const QString& text) {
    // Qt reports Enter, Tab and Backspace by the control characters they
    // type, so only Esc (whose text varies) needs its name.
    const NamedKey named = key == Qt::Key_Escape ? NamedKey::Escape : NamedKey::Other;
    return kestrel::CharacterCode(named, std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                                             std::size_t(text.size())));
}

// The timer is the window's child, found by its name like any other.
// The picture is kept in the screen's own pixel format: Qt then copies
// pixels to the screen without converting each (converting cost 8 times the
// copy, and on Qt's thread pool).
GameWindow::GameWindow()
    : game_(GameRandom::FromClock(), GameOutput::Picture, PixelFormat::ArgbWords), tmr(this) {
    setWindowTitle(QStringLiteral("3D Kestrel"));
    resize(START_WIDTH, START_HEIGHT);
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
    if (devicePixelRatioF() != pixelRatio_) {
        MatchPictureToWindow();
        update();
    }
    game_.Tick();
    ShowChanges();
}

// Only the parts that changed are repainted; nothing at all when nothing did.
void GameWindow::ShowChanges() {
    for (const PixelRect& changed : game_.TakeChanges()) {
        const PixelRect area = CanvasUnitsCovering(changed, Picture().PixelRatio(), width(), height());
        if (!area.Empty()) update(area.left, area.top, area.Width(), area.Height());
    }
}

void GameWindow::paintEvent(QPaintEvent* event) {
    // The image shares the picture's pixels; nothing is copied.
    const PixelCanvas& picture = Picture();
    QImage image(picture.Bytes(), picture.DeviceWidth(), picture.DeviceHeight(),
                 qsizetype(picture.BytesPerLine()), QImage::Format_RGB32);
    const qreal ratio = picture.PixelRatio();
    image.setDevicePixelRatio(ratio);
    QPainter painter(this);
    // The picture may hold more device pixels than canvas units: scale each
    // source rectangle to match.
    for (const QRect& area : event->region()) {
        const QRectF source(area.x() * ratio, area.y() * ratio, area.width() * ratio,
                            area.height() * ratio);
        painter.drawImage(QRectF(area), image, source);
    }
}

void GameWindow::resizeEvent(QResizeEvent*) { MatchPictureToWindow(); }

void GameWindow::MatchPictureToWindow() {
    pixelRatio_ = devicePixelRatioF();
    game_.Resize(width(), height(), pixelRatio_);
    game_.TakeChanges();  // a resize repaints the whole window anyway
}

void GameWindow::mousePressEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    game_.PointerDown(ButtonCode(ButtonOf(event->button())), float(at.x()), float(at.y()));
    ShowChanges();
}

void GameWindow::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    game_.PointerMove(float(at.x()), float(at.y()));
    ShowChanges();
}

void GameWindow::mouseReleaseEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    game_.PointerUp(ButtonCode(ButtonOf(event->button())), float(at.x()), float(at.y()));
    ShowChanges();
}

void GameWindow::keyPressEvent(QKeyEvent* event) {
    const auto code = CharacterCode(event->key(), event->text());
    if (!code) return;
    if (game_.Key(*code) == KeyAction::Quit) {
        // No further tick: the timer stops before the event loop is left.
        tmr.stop();
        QCoreApplication::exit(0);
        return;
    }
    ShowChanges();
}

}  // namespace kestrel
