#include "app/GameWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cstdio>
#include <string_view>

#include "game/LiveWire.h"

namespace kestrel {
namespace {

// Between the connection's state and the seats in the title.
constexpr QStringView TITLE_SEATS_APART = u" \u2014 ";

}  // namespace

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

// The timers are the window's children, found by their names like any other.
// The picture is kept in the screen's own pixel format: Qt then copies
// pixels to the screen without converting each (converting cost 8 times the
// copy, and on Qt's thread pool).
GameWindow::GameWindow()
    : game_(GameRandom::FromClock(), GameOutput::Picture, PixelFormat::ArgbWords), tmr(this), saveTmr_(this) {
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

    saveTmr_.setObjectName(QStringLiteral("saveTmr"));
    saveTmr_.setInterval(RECORDING_SAVE_MS);
    connect(&saveTmr_, &QTimer::timeout, this, &GameWindow::SaveRecording);
}

GameWindow::~GameWindow() { FinishRecording(); }

std::optional<std::string> GameWindow::PlayBack(std::string_view recording) {
    std::optional<std::string> error = game_.PlayBack(recording);
    ShowChanges();
    return error;
}

std::optional<std::string> GameWindow::JoinRoom(const RoomLink& link) {
    room_ = std::make_unique<LiveConnection>(game_, link);
    room_->onStateChanged = [this] { ShowRoomState(); };
    room_->onJoined = [this] { Joined(); };
    if (std::optional<std::string> refused = room_->Join()) {
        room_.reset();
        return refused;
    }
    // Whatever the window's timer did while it waited for the room.
    TakeTheGamesSize();
    ShowChanges();
    return std::nullopt;
}

// The window keeps the room's size, so the seats are told in its title.
// Nothing is set when nothing changed: the seats are looked at each tick.
void GameWindow::ShowRoomState() {
    QString title = QStringLiteral("3D Kestrel (%1)").arg(room_->State());
    if (const QString seats = room_->SeatsText(); !seats.isEmpty()) title.append(TITLE_SEATS_APART).append(seats);
    if (title != windowTitle()) setWindowTitle(title);
}

std::string GameWindow::YourTank() const { return room_ ? room_->YourTank() : std::string(); }

// The game follows the room from a join text now, its recording started
// afresh at the room's tick it has reached.
void GameWindow::Joined() {
    joinedAt_ = game_.FollowedTick();
    RecordFromTheJoin();
    SaveRecording();
}

// The file says where in the room's battle it starts, as the room said it.
void GameWindow::RecordFromTheJoin() {
    if (recordingFile_ && joinedAt_) recordingFile_->StartOver(WriteNotice({NoticeKind::Joined, *joinedAt_}));
}

void GameWindow::RecordInto(std::unique_ptr<RecordingFile> file) {
    FinishRecording();
    recordingFile_ = std::move(file);
    RecordFromTheJoin();
    SaveRecording();
    if (recordingFile_) saveTmr_.start();
}

// At most once a second: a crash or a kill loses no more than that.
void GameWindow::SaveRecording() {
    if (recordingFile_ && !recordingFile_->Update(game_.Recording())) StopRecording();
}

void GameWindow::FinishRecording() {
    if (recordingFile_ && !recordingFile_->Finish(game_.Recording())) return StopRecording();
    recordingFile_.reset();
    saveTmr_.stop();
}

// The game goes on without the file; the program ends with a failure.
void GameWindow::StopRecording() {
    std::fprintf(stderr, "kestrel: %s: %s\n", recordingFile_->Path().c_str(), recordingFile_->Error().c_str());
    recordingFailed_ = true;
    recordingFile_.reset();
    saveTmr_.stop();
}

void GameWindow::Tick() {
    // A window moved to a screen of another density keeps its size but not
    // its pixel ratio; the picture follows at once.
    if (devicePixelRatioF() != pixelRatio_) {
        MatchPictureToWindow();
        update();
    }
    if (room_) room_->Tick();
    else game_.Tick();
    ShowChanges();
}

// Only the parts that changed are repainted; nothing at all when nothing did.
void GameWindow::ShowChanges() {
    FollowTheGamesSize();
    for (const PixelRect& changed : game_.TakeChanges()) {
        if (viewScale_ != 1) {
            update();
            continue;
        }
        const PixelRect area = CanvasUnitsCovering(changed, Picture().PixelRatio(), width(), height());
        if (!area.Empty()) update(area.left, area.top, area.Width(), area.Height());
    }
}

// A new size (a recording's, or the window's at the hand-over) gives a new
// picture. While a recording plays, the window takes its sizes.
void GameWindow::FollowTheGamesSize() {
    const QSize size(game_.Width(), game_.Height());
    if (size == shownSize_) return;
    shownSize_ = size;
    update();
    if (game_.PlayingBack()) TakeTheGamesSize();
}

// A room's field may be larger than the screen: it is shown whole.
void GameWindow::TakeTheGamesSize() {
    const QSize size(game_.Width(), game_.Height());
    viewScale_ = 1;
    if (room_ && screen()) {
        const QSize room = screen()->availableSize();
        viewScale_ = std::min({1.0, double(room.width()) / size.width(), double(room.height()) / size.height()});
    }
    const QSize shown(int(size.width() * viewScale_), int(size.height() * viewScale_));
    if (this->size() != shown) resize(shown);
}

// Where a point of the window is on the canvas.
QPointF GameWindow::CanvasPoint(const QPointF& at) const { return at / viewScale_; }

void GameWindow::paintEvent(QPaintEvent* event) {
    // The image shares the picture's pixels; nothing is copied.
    const PixelCanvas& picture = Picture();
    QImage image(picture.Bytes(), picture.DeviceWidth(), picture.DeviceHeight(),
                 qsizetype(picture.BytesPerLine()), QImage::Format_RGB32);
    const qreal ratio = picture.PixelRatio();
    image.setDevicePixelRatio(ratio);
    QPainter painter(this);
    // A window the screen keeps larger than a recording's size shows white
    // around the picture.
    const QRect shown(0, 0, int(game_.Width() * viewScale_), int(game_.Height() * viewScale_));
    for (const QRect& area : event->region() - shown) painter.fillRect(area, Qt::white);
    if (viewScale_ != 1) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(0, 0, game_.Width() * viewScale_, game_.Height() * viewScale_), image);
        return;
    }
    // The picture may hold more device pixels than canvas units: scale each
    // source rectangle to match.
    for (const QRect& area : event->region() & shown) {
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
    shownSize_ = QSize(game_.Width(), game_.Height());
}

void GameWindow::mousePressEvent(QMouseEvent* event) {
    const QPointF at = CanvasPoint(event->position());
    game_.PointerDown(ButtonCode(ButtonOf(event->button())), float(at.x()), float(at.y()));
    AfterInput();
}

void GameWindow::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = CanvasPoint(event->position());
    game_.PointerMove(float(at.x()), float(at.y()));
    AfterInput();
}

void GameWindow::mouseReleaseEvent(QMouseEvent* event) {
    const QPointF at = CanvasPoint(event->position());
    game_.PointerUp(ButtonCode(ButtonOf(event->button())), float(at.x()), float(at.y()));
    AfterInput();
}

// Closed by the desktop rather than by Esc: the recording is complete all
// the same, before the program's status is decided.
void GameWindow::closeEvent(QCloseEvent* event) {
    tmr.stop();
    FinishRecording();
    QWidget::closeEvent(event);
}

void GameWindow::keyPressEvent(QKeyEvent* event) {
    const auto code = CharacterCode(event->key(), event->text());
    if (!code) return;
    if (game_.Key(*code) == KeyAction::Quit) {
        if (room_) room_->Leave();
        // No further tick: the timer stops before the event loop is left,
        // and the recording is complete with the Esc.
        tmr.stop();
        FinishRecording();
        QCoreApplication::exit(ExitStatus());
        return;
    }
    AfterInput();
}

// A press, a release or a key reaches a room at once, as it would change
// the battle at once out of one.
void GameWindow::AfterInput() {
    if (room_) room_->AfterInput();
    ShowChanges();
}

}  // namespace kestrel
