#include "app/about_window.h"
#include "app/form_fonts.h"
#include "platform/version.h"

#include "app/main_window.h"
#include "app/ui_services.h"
#include "net/update_check.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>

namespace korvinet::app {

namespace {

void SetTextColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

QLabel* PlaceLabel(QWidget* parent, const char* name, int left, int top, const QFont& font,
                   const QColor& color) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->move(left, top);
    label->setFont(font);
    SetTextColor(label, color);
    return label;
}

void SetCaption(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize(); // sized to its text, as an auto-size label
}

} // namespace

namespace {

const QRect kOuterGeometry(332, 205, 450, 250);

} // namespace

TFormAbout::TFormAbout(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("FormAbout"));
    setWindowTitle(QStringLiteral("FormAbout"));
    setGeometry(kOuterGeometry); // until a frame is known
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setFont(FormFont());
    // Closing only hides it; it lives until the program ends.
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_QuitOnClose, false);

    const QFont base = font();
    QFont link = SizedFont(base, 13, true);
    link.setUnderline(true);
    const QFont title = SizedFont(base, 16, true, QStringLiteral("Arial"));
    const QFont caption = SizedFont(base, 13, true);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(20, 10, 400, 43);
    Image1->setPixmap(QPixmap::fromImage(MakeLogo()));

    Website = PlaceLabel(this, "Website", 20, 60, link, Qt::blue);
    InfoEmail = PlaceLabel(this, "InfoEmail", 300, 60, link, Qt::blue);
    Label3 = PlaceLabel(this, "Label3", 146, 90, title, Qt::black);
    SetCaption(Label3, QStringLiteral("Korvinet"));
    Version = PlaceLabel(this, "Version", 232, 90, title, Qt::black);
    SetCaption(Version, QStringLiteral("vX.X.X.X"));
    Label2 = PlaceLabel(this, "Label2", 10, 130, caption, Qt::black);
    SetCaption(Label2, QStringLiteral("Website:"));
    SWWebsite = PlaceLabel(this, "SWWebsite", 80, 130, link, Qt::blue);
    Label1 = PlaceLabel(this, "Label1", 10, 150, caption, Qt::black);
    SetCaption(Label1, QStringLiteral("Support:"));
    EmailSoftware = PlaceLabel(this, "EmailSoftware", 80, 150, link, Qt::blue);

    ButtonCheckForUpdates = new QPushButton(QStringLiteral("Check for Updates Now"), this);
    ButtonCheckForUpdates->setObjectName(QStringLiteral("ButtonCheckForUpdates"));
    ButtonCheckForUpdates->setGeometry(140, 180, 150, 25);
    ButtonCheckForUpdates->setAutoDefault(false);
    connect(ButtonCheckForUpdates, &QPushButton::clicked, this,
            [this] { ButtonCheckForUpdatesClick(); });

    OnClick(Image1, &TFormAbout::WebsiteClick);
    OnClick(Website, &TFormAbout::WebsiteClick);
    OnClick(InfoEmail, &TFormAbout::InfoEmailClick);
    OnClick(SWWebsite, &TFormAbout::SWWebsiteClick);
    OnClick(EmailSoftware, &TFormAbout::EmailSoftwareClick);

    ShowLinks();
}

void TFormAbout::Attach(TFormMain* mainWindow, UiServices* ui) {
    mainWindow_ = mainWindow;
    ui_ = ui;
    ShowLinks();
}

void TFormAbout::ShowLinks() {
    links_ = MakeAboutLinks(mainWindow_ ? mainWindow_->UpdateHostName : net::UpdateHost());
    SetCaption(Website, links_.websiteText);
    SetCaption(InfoEmail, links_.infoEmail);
    SetCaption(SWWebsite, links_.downloadPageUrl);
    SetCaption(EmailSoftware, links_.softwareEmail);
}

void TFormAbout::OnClick(QLabel* label, void (TFormAbout::*handler)()) {
    label->setCursor(Qt::PointingHandCursor);
    label->installEventFilter(this);
    clickHandlers_.insert(label, handler);
}

bool TFormAbout::eventFilter(QObject* watched, QEvent* event) {
    // A click is a left press released over the same control.
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const auto it = clickHandlers_.constFind(watched);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (it != clickHandlers_.constEnd() && widget && mouse->button() == Qt::LeftButton &&
            widget->rect().contains(mouse->position().toPoint())) {
            (this->*it.value())();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TFormAbout::FitFrame() {
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    if (frameFitted_ || frame == client)
        return; // fitted already, or no frame (yet)
    frameFitted_ = true;
    resize(kOuterGeometry.size() - frame.size() + client.size());
    move(kOuterGeometry.topLeft()); // a window's position is its frame's
}

void TFormAbout::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // Some window managers add the frame only after the window is shown.
    if (isVisible())
        FitFrame();
}

void TFormAbout::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FitFrame();
    // Restoring a minimised window is no new showing.
    if (!event->spontaneous())
        FormShow();
}

void TFormAbout::FormShow() {
    // Read anew each time: the links follow the main window's update host.
    ShowLinks();
    const QString version = mainWindow_ ? mainWindow_->ProgramVersion : platform::OwnVersionText();
    SetCaption(Version, AboutVersionCaption(version));
}

void TFormAbout::Open(const QString& target) {
    if (ui_)
        ui_->ShellOpen(target);
}

void TFormAbout::WebsiteClick() {
    Open(links_.websiteUrl);
}

void TFormAbout::SWWebsiteClick() {
    Open(links_.downloadPageUrl);
}

void TFormAbout::EmailSoftwareClick() {
    Open(links_.softwareEmailUrl);
}

void TFormAbout::InfoEmailClick() {
    Open(links_.infoEmailUrl);
}

void TFormAbout::ButtonCheckForUpdatesClick() {
    if (mainWindow_)
        mainWindow_->RunCommand([this] { mainWindow_->CheckForUpdatesClick(); });
}

QImage TFormAbout::MakeLogo() {
    QImage image(400, 43, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    const QColor navy(0x1b, 0x2f, 0x5e);
    const QColor teal(0x00, 0x8c, 0x8c);
    const QColor signal(0xe0, 0x5a, 0x1e);

    // The mark: a detector tube with three pulses rising from it.
    painter.setPen(Qt::NoPen);
    painter.setBrush(navy);
    painter.drawEllipse(QPointF(21.5, 21.5), 18.0, 18.0);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(21.5, 21.5), 13.0, 13.0);
    painter.setBrush(teal);
    painter.drawRoundedRect(QRectF(11.0, 18.0, 21.0, 7.0), 3.5, 3.5);
    painter.setPen(QPen(signal, 2.0, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i) {
        const double x = 15.5 + 6.0 * i;
        painter.drawLine(QPointF(x, 16.0), QPointF(x, 11.0 + 2.0 * (i % 2)));
    }

    // The name.
    QFont name(QStringLiteral("Liberation Sans"));
    name.setPixelSize(28);
    name.setBold(true);
    name.setLetterSpacing(QFont::AbsoluteSpacing, 2.0);
    painter.setFont(name);
    painter.setPen(navy);
    painter.drawText(QRectF(50.0, 0.0, 190.0, 43.0), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("KORVINET"));

    // A count trace running out to the right edge: a flat line with ticks.
    QPainterPath trace;
    trace.moveTo(240.0, 28.0);
    const int ticks[] = {252, 266, 271, 290, 311, 318, 334, 352, 361, 383};
    for (const int x : ticks) {
        trace.lineTo(x - 2.0, 28.0);
        trace.lineTo(x, 10.0 + (x % 7));
        trace.lineTo(x + 2.0, 28.0);
    }
    trace.lineTo(396.0, 28.0);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(teal, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(trace);
    painter.setPen(QPen(navy, 1.0));
    painter.drawLine(QPointF(240.0, 36.5), QPointF(396.0, 36.5));
    painter.end();

    // Kept to 256 colours, so the picture stays small.
    return image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
}

} // namespace korvinet::app
