#include "ui/About.h"

#include "BuildInfo.h"
#include "ui/Palette.h"
#include "ui/Prompter.h"
#include "upload/ServiceAddress.h"

#include <QDir>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

const QColor About::LinkColour(0, 0, 255);
const QColor About::HotLinkColour(255, 0, 0);

About::About(Prompter& prompter, HttpClient& http, const QString& dataFolder, const Settings& settings,
             QWidget* parent)
    : QWidget(parent, Qt::Window), m_prompter(prompter), m_settings(settings), m_checker(http)
{
    setupUi(dataFolder);
    Form_Load();
    connect(this, &About::updateCheckRequested, this, &About::CheckforUpdate);
    connect(&m_checker, &UpdateChecker::finished, this, &About::showUpdateAnswer);
}

void About::setUpdateCheckTimeout(std::chrono::milliseconds timeout)
{
    m_checker.setTimeout(timeout);
}

bool About::isCheckingForUpdate() const
{
    return m_checker.isRunning();
}

void About::setupUi(const QString& dataFolder)
{
    setObjectName(QStringLiteral("About"));
    setFocusPolicy(Qt::StrongFocus);
    // Moves over the background must arrive without a button held.
    setMouseTracking(true);

    Label1 = new QLabel(this);
    Label2 = new QLabel(QStringLiteral("Question,Bugs,Comments"), this);
    Label3 = new QLabel(QStringLiteral("Send Email"), this);
    Label4 = new QLabel(QStringLiteral("Latest Updates"), this);
    Label5 = new QLabel(QStringLiteral("Click Here"), this);
    lblDataFolder = new QLabel(this);
    const std::pair<QLabel*, const char*> names[] = {{Label1, "Label1"}, {Label2, "Label2"},
                                                     {Label3, "Label3"}, {Label4, "Label4"},
                                                     {Label5, "Label5"}, {lblDataFolder, "lblDataFolder"}};
    for (const auto& [label, name] : names)
        label->setObjectName(QString::fromLatin1(name));

    for (QLabel* link : {Label3, Label5}) {
        QFont font = link->font();
        font.setUnderline(true);
        link->setFont(font);
        link->setCursor(Qt::PointingHandCursor);
        link->setMouseTracking(true);
        link->installEventFilter(this);
        // Reachable with Tab and opened with Enter, like any other link.
        link->setFocusPolicy(Qt::StrongFocus);
        link->setStyleSheet(QStringLiteral("QLabel { border: 1px solid transparent; } "
                                           "QLabel:focus { border: 1px dotted palette(window-text); }"));
    }
    setLinkColours();

    const QString folder = QDir::toNativeSeparators(dataFolder);
    lblDataFolder->setText(QStringLiteral("Settings and logs: ") + folder);
    lblDataFolder->setToolTip(folder);
    lblDataFolder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont small = lblDataFolder->font();
    if (small.pointSizeF() > 0) {
        small.setPointSizeF(small.pointSizeF() * 0.85);
        lblDataFolder->setFont(small);
    }

    // Each link sits centred under its heading, the two pairs side by side.
    auto* links = new QGridLayout;
    links->addWidget(Label2, 0, 0, Qt::AlignHCenter);
    links->addWidget(Label3, 1, 0, Qt::AlignHCenter);
    links->addWidget(Label4, 0, 1, Qt::AlignHCenter);
    links->addWidget(Label5, 1, 1, Qt::AlignHCenter);
    links->setHorizontalSpacing(QFontMetrics(font()).height() * 2);

    auto* page = new QVBoxLayout(this);
    page->addWidget(Label1);
    page->addLayout(links);
    page->addSpacing(QFontMetrics(font()).height() / 2);
    page->addWidget(lblDataFolder);
    // No border style of its own to keep: a fixed size is what a note like this wants.
    page->setSizeConstraint(QLayout::SetFixedSize);
}

void About::Form_Load()
{
    setWindowTitle(QStringLiteral("Tarvex"));
    Label1->setText(
        QStringLiteral("Tarvex ver. %1.%2.%3\nBy: %4 %5")
            .arg(BuildInfo::VersionMajor)
            .arg(BuildInfo::VersionMinor)
            .arg(BuildInfo::VersionRevision)
            .arg(QString::fromUtf8(BuildInfo::AuthorName), QString::fromUtf8(BuildInfo::AuthorCall)));
    Label3->setToolTip(QStringLiteral("Send Email to ") + QString::fromUtf8(BuildInfo::AuthorCall));
    Label5->setToolTip(QStringLiteral("Check for latest Update Here"));
}

void About::Label3_Click()
{
    m_prompter.openUrl(QUrl(QStringLiteral("mailto:") + QString::fromUtf8(BuildInfo::AuthorMail)));
}

void About::Label5_Click()
{
    emit updateCheckRequested();
}

void About::CheckforUpdate()
{
    const ServiceBase update = resolveServiceBase(SettingKey::UpdateHost,
                                                  m_settings.GetSettings(SettingKey::UpdateHost, QString()),
                                                  QString::fromUtf8(BuildInfo::UpdateHost));
    if (!update.problem.isEmpty()) {
        m_prompter.message(this, update.problem, QString(), Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
        return;
    }
    m_updateBase = update.url;
    // A click while a check runs adds nothing: its answer is on the way.
    m_checker.check(m_updateBase, QStringLiteral("%1.%2.%3")
                                      .arg(BuildInfo::VersionMajor)
                                      .arg(BuildInfo::VersionMinor)
                                      .arg(BuildInfo::VersionRevision));
}

void About::showUpdateAnswer(const UpdateCheckResult& result)
{
    switch (result.verdict) {
    case UpdateVerdict::Failed:
        // A check that ends without a word looks like "no update".
        m_prompter.message(this, tr("The check for a newer version failed: %1").arg(result.failure), QString(),
                           Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
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
    if (understood != Prompter::Answer::Ok)
        return;
    m_prompter.openUrl(UpdateChecker::archiveUrl(m_updateBase));
}

bool About::eventFilter(QObject* watched, QEvent* event)
{
    auto* link = qobject_cast<QLabel*>(watched);
    if (link != Label3 && link != Label5)
        return QWidget::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::MouseMove:
        Palette::setTextColour(link, QPalette::WindowText, hotLinkColour());
        // Handled here: left to the label it would reach the background too.
        return true;
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            if (link == Label3)
                Label3_Click();
            else
                Label5_Click();
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
        // A click is a press and a release on the same link, as with a button.
        const bool click = mouse->button() == Qt::LeftButton && m_pressedLink == link &&
                           link->rect().contains(mouse->position().toPoint());
        if (mouse->button() == Qt::LeftButton)
            m_pressedLink = nullptr;
        if (click && link == Label3)
            Label3_Click();
        else if (click && link == Label5)
            Label5_Click();
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

QColor About::linkColour() const
{
    const QPalette theme = palette();
    return Palette::readable(LinkColour, theme.color(QPalette::Window),
                             {theme.color(QPalette::Link), QColor(120, 170, 255), theme.color(QPalette::WindowText)});
}

QColor About::hotLinkColour() const
{
    // Pure red reaches 4:1 at best, on white; it only marks the link under
    // the pointer, so the lower bar for such marks (3:1) is the one it must
    // clear, and light themes keep it.
    const QPalette theme = palette();
    return Palette::readable(HotLinkColour, theme.color(QPalette::Window),
                             {QColor(255, 128, 128), theme.color(QPalette::WindowText)}, 3.0);
}

void About::setLinkColours()
{
    for (QLabel* link : {Label3, Label5})
        Palette::setTextColour(link, QPalette::WindowText, linkColour());
}
