#include "ui/About.h"

#include "BuildInfo.h"
#include "ui/Palette.h"
#include "ui/Prompter.h"
#include "ui_About.h"
#include "upload/ServiceAddress.h"

#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>

namespace {

// Blue links, red under the pointer, unless the theme's background makes them unreadable.
QColor linkColour(const QPalette& theme)
{
    return Palette::readable(
        QColor(0, 0, 255), theme.color(QPalette::Window),
        {theme.color(QPalette::Link), QColor(120, 170, 255), theme.color(QPalette::WindowText)});
}

QColor hotLinkColour(const QPalette& theme)
{
    // Pure red reaches 4:1 at best, on white; it only marks the link under
    // the pointer, so the lower bar for such marks (3:1) is the one it must
    // clear, and light themes keep it.
    return Palette::readable(QColor(255, 0, 0), theme.color(QPalette::Window),
                             {QColor(255, 128, 128), theme.color(QPalette::WindowText)}, 3.0);
}

} // namespace

About::About(Prompter& prompter, HttpClient& http, const QString& dataFolder, const Settings& settings,
             QWidget* parent)
    : QWidget(parent, Qt::Window), ui(std::make_unique<Ui::About>()), m_prompter(prompter),
      m_settings(settings), m_checker(http)
{
    ui->setupUi(this);
    ui->Label1->setText(QStringLiteral("Tarvex ver. %1\nBy: %2 %3")
                            .arg(versionText().trimmed(), QString::fromUtf8(BuildInfo::AuthorName),
                                 QString::fromUtf8(BuildInfo::AuthorCall)));
    ui->Label3->setToolTip(QStringLiteral("Send Email to ") + QString::fromUtf8(BuildInfo::AuthorCall));
    // Reachable with Tab and opened with Enter, like any other link.
    ui->Label3->installEventFilter(this);
    ui->Label5->installEventFilter(this);
    setLinkColours();

    const QString folder = QDir::toNativeSeparators(dataFolder);
    ui->lblDataFolder->setText(QStringLiteral("Settings and logs: ") + folder);
    ui->lblDataFolder->setToolTip(folder);
    QFont small = ui->lblDataFolder->font();
    if (small.pointSizeF() > 0) {
        small.setPointSizeF(small.pointSizeF() * 0.85);
        ui->lblDataFolder->setFont(small);
    }
    // Each link sits centred under its heading, the two pairs apart by the font's measure.
    ui->links->setHorizontalSpacing(QFontMetrics(font()).height() * 2);
    ui->page->insertSpacing(2, QFontMetrics(font()).height() / 2);
    connect(&m_checker, &UpdateChecker::finished, this, &About::showUpdateAnswer);
}

About::~About() = default;

void About::setUpdateCheckTimeout(std::chrono::milliseconds timeout)
{
    m_checker.setTimeout(timeout);
}

bool About::isCheckingForUpdate() const
{
    return m_checker.isRunning();
}

void About::follow(QLabel* link)
{
    if (link == ui->Label3)
        m_prompter.openUrl(QUrl(QStringLiteral("mailto:") + QString::fromUtf8(BuildInfo::AuthorMail)));
    else
        CheckforUpdate();
}

void About::CheckforUpdate()
{
    const ServiceBase update =
        resolveServiceBase(SettingKey::UpdateHost, m_settings.GetSettings(SettingKey::UpdateHost, QString()),
                           QString::fromUtf8(BuildInfo::UpdateHost));
    if (!update.problem.isEmpty()) {
        m_prompter.message(this, update.problem, QString(), Prompter::Buttons::Ok,
                           Prompter::Icon::Exclamation);
        return;
    }
    m_updateBase = update.url;
    // A click while a check runs adds nothing: its answer is on the way.
    m_checker.check(m_updateBase, versionText().trimmed());
}

void About::showUpdateAnswer(const UpdateCheckResult& result)
{
    switch (result.verdict) {
    case UpdateVerdict::Failed:
        // A check that ends without a word looks like "no update".
        m_prompter.message(this, tr("The check for a newer version failed: %1").arg(result.failure),
                           QString(), Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
        return;
    case UpdateVerdict::NotNewer:
        m_prompter.message(this, QStringLiteral("There is no Update available!"), QString(),
                           Prompter::Buttons::Ok, Prompter::Icon::None);
        return;
    case UpdateVerdict::Newer:
        break;
    }
    const Prompter::Answer wanted = m_prompter.message(
        this,
        QStringLiteral("     There is an UPDATE Available!\r"
                       "Would you like to download the update now?"),
        QStringLiteral("UPDATE AVAILABLE!"), Prompter::Buttons::YesNo, Prompter::Icon::None);
    if (wanted != Prompter::Answer::Yes)
        return;
    const Prompter::Answer understood = m_prompter.message(
        this,
        QStringLiteral("After Downloading this Update you will need to close this\r"
                       " application before you unzip and install the new update!"),
        QStringLiteral("Download Update"), Prompter::Buttons::OkCancel, Prompter::Icon::Exclamation);
    if (understood == Prompter::Answer::Ok)
        m_prompter.openUrl(UpdateChecker::archiveUrl(m_updateBase));
}

bool About::eventFilter(QObject* watched, QEvent* event)
{
    auto* link = static_cast<QLabel*>(watched); // only the two links are watched
    switch (event->type()) {
    case QEvent::MouseMove:
        Palette::setTextColour(link, QPalette::WindowText, hotLinkColour(palette()));
        // Handled here: left to the label it would reach the background too.
        return true;
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            follow(link);
            return true;
        }
        break;
    }
    case QEvent::MouseButtonPress:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            m_pressedLink = link;
        break;
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            break;
        // A click is a press and a release on the same link, as with a button.
        const bool click = m_pressedLink == link && link->rect().contains(mouse->position().toPoint());
        m_pressedLink = nullptr;
        if (click)
            follow(link);
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void About::mouseMoveEvent(QMouseEvent* event)
{
    // Only the bare background; the plain labels keep their moves to themselves.
    if (!childAt(event->position().toPoint()))
        setLinkColours();
    QWidget::mouseMoveEvent(event);
}

void About::showEvent(QShowEvent* event)
{
    // The window itself takes the focus first: a link drawn with a focus
    // frame before anyone pressed Tab looks pressed.
    setFocus(Qt::OtherFocusReason);
    QWidget::showEvent(event);
}

void About::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void About::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        setLinkColours();
    QWidget::changeEvent(event);
}

void About::setLinkColours()
{
    for (QLabel* link : {ui->Label3, ui->Label5})
        Palette::setTextColour(link, QPalette::WindowText, linkColour(palette()));
}
