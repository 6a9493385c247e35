#include "ui/frmSetup.h"
#include "ui/ScreenFit.h"

#include "ui/ForwardSetupFrame.h"

#include "core/OptionReader.h"
#include "core/PrivateFiles.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "telephony/RemotePin.h"
#include "platform/shell/AutostartEntry.h"
#include "platform/shell/FolderPicker.h"
#include "platform/shell/UserPrompts.h"
#include "ui/LineSettingsFrame.h"
#include "ui/ModalRunner.h"
#include "ui/frmSetRings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace telvox {

namespace {

const QString kConfig = QStringLiteral("Config");
constexpr int kSilenceLevelMin = 20;
constexpr int kSilenceLevelMax = 500;
constexpr int kRingsRequired = 1701;
constexpr int kTwoLinesAtMost = 1702;
constexpr int kNoLineSaveAnyway = 1871;
constexpr int kSavedRestarting = 1873;

QString lineKey(int n) { return QStringLiteral("Line") + QString::number(n); }
QString flag(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }

// The stop-trigger frame's captions and tool tips.
constexpr int kSoundLevelBelow = 1886;
constexpr int kLevelRange = 1887;
constexpr int kLastingAtLeast = 1888;
constexpr int kSecondsEnd = 1889;
constexpr int kHangUpOnFastBusy = 1890;
constexpr int kLevelHelp = 1891;
constexpr int kLevelHelpFigures = 1892;
constexpr int kSecondsHelp = 1893;
constexpr int kFastBusyHelp = 1894;

} // namespace

QString clampSilenceLevel(const QString &text)
{
    const int level = parseLenientInt(text);
    if (level < kSilenceLevelMin)
        return QString::number(kSilenceLevelMin);
    if (level > kSilenceLevelMax)
        return QString::number(kSilenceLevelMax);
    return text;
}

bool createFolderPath(const QString &path)
{
    if (path.startsWith(QLatin1String("//")))
        return true; // a network share: its folders are the server's business
    const QString native = QDir::fromNativeSeparators(path);
    bool ok = true;
    for (qsizetype at = native.indexOf(QLatin1Char('/')); at >= 0; at = native.indexOf(QLatin1Char('/'), at + 1)) {
        const QString level = native.left(at + 1);
        if (QFileInfo(level).isDir())
            continue;
        ok = QDir().mkdir(level) && ok;
    }
    return ok && QFileInfo(native).isDir();
}

frmSetup::frmSetup(Services services, QWidget *parent)
    : QDialog(parent)
    , m_s(std::move(services))
{
    setObjectName(QStringLiteral("frmSetup"));
    buildWindow();
    connect(this, &QDialog::finished, this, [this] { m_loaded = false; });
}

frmSetup::~frmSetup() = default;

PublishedSetup readPublishedSetup(const SettingsStore &settings)
{
    const OptionReader options(settings);
    PublishedSetup published;
    published.outputFormat = options.outputFormat();
    published.popCallId = options.popCallerId();
    published.minOnStart = options.minimiseOnStart();
    published.actionMan = options.manualAnswer();
    published.txtRings = options.rings();
    return published;
}

QString frmSetup::config(const QString &key, const QString &defaultValue) const
{
    return m_s.settings.ReadSetting(kConfig, key, defaultValue);
}

void frmSetup::buildWindow()
{
    auto named = [](QWidget *w, const QString &name) {
        w->setObjectName(name);
        return w;
    };
    auto *root = new QVBoxLayout(this);

    m_frame2 = new QGroupBox(this);
    m_frame2->setObjectName(QStringLiteral("Frame2"));
    auto *lines = new QGridLayout(m_frame2);
    m_label1 = new QLabel(m_frame2);
    m_label1->setObjectName(QStringLiteral("Label1"));
    lines->addWidget(m_label1, 0, 0, 1, 3);
    for (int n = 0; n < 4; ++n) {
        auto *check = new QCheckBox(QStringLiteral("Line%1").arg(n), m_frame2);
        check->setObjectName(QStringLiteral("Check1_%1").arg(n));
        check->installEventFilter(this);
        connect(check, &QCheckBox::toggled, this, [this, n] { Check1_Click(n); });
        auto *field = new QLineEdit(m_frame2);
        field->setObjectName(QStringLiteral("txtLine_%1").arg(n));
        field->setReadOnly(true);
        field->setMinimumWidth(320);
        auto *service = new QLabel(m_frame2);
        service->setObjectName(QStringLiteral("lblService_%1").arg(n));
        lines->addWidget(check, n + 1, 0);
        lines->addWidget(field, n + 1, 1);
        lines->addWidget(service, n + 1, 2);
        m_check1.at(std::size_t(n)) = check;
        m_txtLine.at(std::size_t(n)) = field;
        m_lblService.at(std::size_t(n)) = service;
    }
    root->addWidget(m_frame2);

    auto *rings = new QHBoxLayout;
    m_label5 = static_cast<QLabel *>(named(new QLabel(this), QStringLiteral("Label5")));
    m_txtRings = static_cast<QLineEdit *>(named(new QLineEdit(this), QStringLiteral("txtRings")));
    m_txtRings->setMaximumWidth(60);
    m_cmdRings = static_cast<QPushButton *>(named(new QPushButton(this), QStringLiteral("cmdRings")));
    m_label5->setBuddy(m_txtRings);
    rings->addWidget(m_label5);
    rings->addWidget(m_txtRings);
    rings->addStretch();
    rings->addWidget(m_cmdRings);
    root->addLayout(rings);

    m_label2 = static_cast<QLabel *>(named(new QLabel(this), QStringLiteral("Label2")));
    root->addWidget(m_label2);
    auto *folder = new QHBoxLayout;
    m_txtSaveFile = static_cast<QLineEdit *>(named(new QLineEdit(this), QStringLiteral("txtSaveFile")));
    m_command6 = static_cast<QPushButton *>(named(new QPushButton(QStringLiteral("..."), this), QStringLiteral("Command6")));
    m_label2->setBuddy(m_txtSaveFile);
    m_command6->setAccessibleName(m_s.texts.LoadText(1441));
    folder->addWidget(m_txtSaveFile);
    folder->addWidget(m_command6);
    root->addLayout(folder);

    auto *record = new QHBoxLayout;
    m_command1 = static_cast<QPushButton *>(named(new QPushButton(this), QStringLiteral("Command1")));
    m_cmdRecLegal = static_cast<QPushButton *>(named(new QPushButton(this), QStringLiteral("cmdRecLegal")));
    record->addWidget(m_command1);
    record->addWidget(m_cmdRecLegal);
    record->addStretch();
    root->addLayout(record);

    m_frame3 = new QGroupBox(this);
    m_frame3->setObjectName(QStringLiteral("Frame3"));
    auto *sub = new QHBoxLayout(m_frame3);
    m_label6 = static_cast<QLabel *>(named(new QLabel(m_frame3), QStringLiteral("Label6")));
    m_label6->setWordWrap(true);
    sub->addWidget(m_label6, 1);
    for (int k = 0; k < 4; ++k) {
        auto *button = new QPushButton(QString::number(k + 1), m_frame3);
        button->setObjectName(QStringLiteral("Command%1").arg(k + 2));
        button->setMaximumWidth(40);
        sub->addWidget(button);
        m_prompts.at(std::size_t(k)) = button;
        const QString prompt = QStringLiteral("0%1.wav").arg(k + 1);
        connect(button, &QPushButton::clicked, this, [this, prompt] {
            if (m_s.recordPrompt)
                m_s.recordPrompt(prompt, false);
        });
    }
    root->addWidget(m_frame3);

    m_frame4 = new QGroupBox(this);
    m_frame4->setObjectName(QStringLiteral("Frame4"));
    auto *trigger = new QGridLayout(m_frame4);
    m_chkSilence = static_cast<QCheckBox *>(named(new QCheckBox(m_frame4), QStringLiteral("chkSilence")));
    m_label3 = static_cast<QLabel *>(named(new QLabel(m_frame4), QStringLiteral("Label3")));
    m_txtSilenceLevel = static_cast<QLineEdit *>(named(new QLineEdit(m_frame4), QStringLiteral("txtSilenceLevel")));
    m_txtSilenceLevel->setMaximumWidth(60);
    m_txtSilenceLevel->installEventFilter(this);
    m_label8 = static_cast<QLabel *>(named(new QLabel(m_frame4), QStringLiteral("Label8")));
    m_label7 = static_cast<QLabel *>(named(new QLabel(m_frame4), QStringLiteral("Label7")));
    m_txtSilenceSecond = static_cast<QLineEdit *>(named(new QLineEdit(m_frame4), QStringLiteral("txtSilenceSecond")));
    m_txtSilenceSecond->setMaximumWidth(60);
    m_lblSD = static_cast<QLabel *>(named(new QLabel(m_frame4), QStringLiteral("lblSD")));
    m_chkFBS = static_cast<QCheckBox *>(named(new QCheckBox(m_frame4), QStringLiteral("chkFBS")));
    trigger->addWidget(m_chkSilence, 0, 0, 1, 4);
    trigger->addWidget(m_label3, 1, 0);
    trigger->addWidget(m_txtSilenceLevel, 1, 1);
    trigger->addWidget(m_label8, 1, 2, 1, 2);
    trigger->addWidget(m_label7, 2, 0);
    trigger->addWidget(m_txtSilenceSecond, 2, 1);
    trigger->addWidget(m_lblSD, 2, 2, 1, 2);
    trigger->addWidget(m_chkFBS, 3, 0, 1, 4);
    root->addWidget(m_frame4);

    // The stop-trigger captions; the English ones are the design's fixed texts.
    const Texts &t = m_s.texts;
    m_label3->setText(t.LoadText(kSoundLevelBelow));
    m_label8->setText(t.LoadText(kLevelRange));
    m_label7->setText(t.LoadText(kLastingAtLeast));
    m_lblSD->setText(t.LoadText(kSecondsEnd));
    m_chkFBS->setText(t.LoadText(kHangUpOnFastBusy));
    const QString help = t.LoadText(kLevelHelp) + QLatin1Char('\n') + t.LoadText(kLevelHelpFigures);
    for (QWidget *w : {static_cast<QWidget *>(m_label3), static_cast<QWidget *>(m_txtSilenceLevel),
                       static_cast<QWidget *>(m_label8)})
        w->setToolTip(help);
    m_txtSilenceSecond->setToolTip(t.LoadText(kSecondsHelp));
    m_chkFBS->setToolTip(t.LoadText(kFastBusyHelp));

    auto *choices = new QHBoxLayout;
    m_frame5 = new QGroupBox(this);
    m_frame5->setObjectName(QStringLiteral("Frame5"));
    auto *format = new QVBoxLayout(m_frame5);
    auto *formatGroup = new QButtonGroup(this);
    const QStringList formats{QStringLiteral("PCM 8K,16Bit,Mono  (16KB/s)"), QStringLiteral("DSP Group TrueSpeech  (1KB/s)")};
    for (int k = 0; k < 2; ++k) {
        auto *option = new QRadioButton(formats[k], m_frame5);
        option->setObjectName(QStringLiteral("Option2_%1").arg(k));
        formatGroup->addButton(option, k);
        format->addWidget(option);
        m_option2.at(std::size_t(k)) = option;
    }
    choices->addWidget(m_frame5);
    m_frameLanguage = new QGroupBox(this);
    m_frameLanguage->setObjectName(QStringLiteral("frameLanguage"));
    auto *language = new QVBoxLayout(m_frameLanguage);
    auto *languageGroup = new QButtonGroup(this);
    const QStringList languages{QStringLiteral("English"), QStringLiteral("GB"), QStringLiteral("BIG5")};
    for (int k = 0; k < 3; ++k) {
        auto *option = new QRadioButton(languages[k], m_frameLanguage);
        option->setObjectName(QStringLiteral("Option1_%1").arg(k));
        languageGroup->addButton(option, k);
        language->addWidget(option);
        m_option1.at(std::size_t(k)) = option;
    }
    choices->addWidget(m_frameLanguage);
    auto *startup = new QVBoxLayout;
    m_chkPopCallId = static_cast<QCheckBox *>(named(new QCheckBox(this), QStringLiteral("ChkPopCallId")));
    m_chkMinOnStart = static_cast<QCheckBox *>(named(new QCheckBox(this), QStringLiteral("ChkMinOnStart")));
    m_chkAction = static_cast<QCheckBox *>(named(new QCheckBox(this), QStringLiteral("chkAction")));
    m_chkStartUp = static_cast<QCheckBox *>(named(new QCheckBox(this), QStringLiteral("chkStartUp")));
    for (QCheckBox *box : {m_chkPopCallId, m_chkMinOnStart, m_chkAction, m_chkStartUp})
        startup->addWidget(box);
    choices->addLayout(startup);
    root->addLayout(choices);
    m_fraForward = new ForwardSetupFrame(m_s.texts, m_s.settings, m_s.programFolder, this);
    root->addWidget(m_fraForward);
    for (const LineSettingsPage &page : m_s.backendPages) {
        m_backendFrames.push_back(new LineSettingsFrame(page, m_s.texts, m_s.settings, this));
        root->addWidget(m_backendFrames.back());
    }

    auto *buttons = new QHBoxLayout;
    m_cmdSave = static_cast<QPushButton *>(named(new QPushButton(this), QStringLiteral("cmdSave")));
    m_cmdExit = static_cast<QPushButton *>(named(new QPushButton(this), QStringLiteral("cmdExit")));
    m_cmdSave->setAutoDefault(false);
    m_cmdExit->setAutoDefault(false);
    // The desktop program serves the web page too ("[Web] Enabled"); the service always does.
    buttons->addWidget(named(new QCheckBox(this), QStringLiteral("chkWeb")));
    // The PIN for hearing messages by telephone: only its hash is kept, so the field starts
    // empty; a new PIN typed here replaces the old one.
    auto *pin = static_cast<QLineEdit *>(named(new QLineEdit(this), QStringLiteral("txtRemotePin")));
    pin->setEchoMode(QLineEdit::Password);
    pin->setMaxLength(remotepin::kMaxDigits);
    pin->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,8}")), pin));
    buttons->addWidget(pin);
    buttons->addStretch();
    buttons->addWidget(m_cmdSave);
    buttons->addWidget(m_cmdExit);
    root->addLayout(buttons);

    // Enter in a field never presses a button: no button is the default.
    for (QPushButton *button : findChildren<QPushButton *>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    // Fields take only what they can hold; the ring count is checked again on Save.
    m_txtRings->setValidator(new QIntValidator(1, 99, m_txtRings));
    m_txtSilenceLevel->setValidator(new QIntValidator(0, 9999, m_txtSilenceLevel));
    m_txtSilenceSecond->setValidator(new QIntValidator(1, 3600, m_txtSilenceSecond));

    connect(m_cmdSave, &QPushButton::clicked, this, &frmSetup::cmdSave_Click);
    connect(m_cmdExit, &QPushButton::clicked, this, &frmSetup::cmdExit_Click);
    connect(m_command6, &QPushButton::clicked, this, &frmSetup::Command6_Click);
    connect(m_cmdRings, &QPushButton::clicked, this, &frmSetup::cmdRings_Click);
    connect(m_command1, &QPushButton::clicked, this, [this] {
        if (m_s.recordPrompt)
            m_s.recordPrompt(QStringLiteral("Greeting.wav"), true);
    });
    connect(m_cmdRecLegal, &QPushButton::clicked, this, [this] {
        if (m_s.recordPrompt)
            m_s.recordPrompt(QStringLiteral("legal.wav"), true);
    });
    fitOnScreen(*this, buttons);
}

void frmSetup::setCaptions()
{
    const Texts &t = m_s.texts;
    setWindowTitle(t.LoadText(1009));
    m_frame2->setTitle(t.LoadText(1068));
    m_label1->setText(t.LoadText(1069));
    m_label5->setText(t.LoadText(1072));
    m_label2->setText(t.LoadText(1074));
    m_command1->setText(t.LoadText(1073));
    m_frame3->setTitle(t.LoadText(1075));
    m_label6->setText(t.LoadText(1076));
    m_cmdRecLegal->setText(t.LoadText(1111));
    m_cmdRings->setText(t.LoadText(1089));
    m_frame4->setTitle(t.LoadText(1108));
    m_chkSilence->setText(t.LoadText(1109));
    m_frame5->setTitle(t.LoadText(1112));
    m_chkPopCallId->setText(t.LoadText(1102));
    m_chkMinOnStart->setText(t.LoadText(1103));
    m_chkAction->setText(t.LoadText(1106));
    m_chkStartUp->setText(t.LoadText(1107));
    m_cmdSave->setText(t.LoadText(1077));
    m_cmdExit->setText(t.LoadText(1014));
}

void frmSetup::Form_Load()
{
    setCaptions();
    m_fraForward->load();
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    m_txtSilenceSecond->setText(config(QStringLiteral("SilenceD"), QStringLiteral("5")));

    // Devices: every field first says nothing was found; the classification fills in the rest.
    for (int n = 0; n < 4; ++n) {
        QCheckBox *box = Check1(n);
        const QSignalBlocker quiet(box);
        box->setChecked(false);
        box->setEnabled(true);
        txtLine(n)->setText(m_s.texts.LoadText(1070));
        lblService(n)->setText(m_s.lineServices.at(std::size_t(n)));
    }
    if (m_s.classifyDevices) {
        const DeviceClassification c = m_s.classifyDevices();
        for (int n = 0; n < 4; ++n) {
            if (!c.txtLine.at(std::size_t(n)).isEmpty())
                txtLine(n)->setText(c.txtLine.at(std::size_t(n)));
            Check1(n)->setEnabled(c.enabled.at(std::size_t(n)));
        }
    }
    for (int n = 0; n < 4; ++n) {
        if (!Check1(n)->isEnabled())
            m_s.settings.WriteSetting(kConfig, lineKey(n), QStringLiteral("0"));
    }

    const OptionReader options(m_s.settings);
    for (int n = 0; n < 4; ++n)
        Check1(n)->setChecked(options.lineSelected(n));
    m_chkSilence->setChecked(options.stopOnSilence());
    m_txtSilenceLevel->setText(config(QStringLiteral("SilenceLevel"), QStringLiteral("100")));
    m_txtRings->setText(options.rings());
    m_txtSaveFile->setText(options.recordingFolderChosen() ? options.recordingFolderSetting()
                                                           : m_s.programFolder + QStringLiteral("/waveFiles/"));

    Option1(options.language())->setChecked(true);
    PublishedSetup published;
    published.outputFormat = options.outputFormat();
    if (published.outputFormat >= 0 && published.outputFormat < 2)
        Option2(published.outputFormat)->setChecked(true);

    m_chkPopCallId->setChecked(options.popCallerId());
    m_chkMinOnStart->setChecked(options.minimiseOnStart());
    published.actionMan = options.manualAnswer();
    m_chkAction->setChecked(published.actionMan);
    m_chkStartUp->setChecked(parseLenientInt(config(QStringLiteral("AutoStart"), QStringLiteral("0"))) == 1);
    m_chkFBS->setChecked(options.hangUpOnFastBusy());
    auto *web = findChild<QCheckBox *>(QStringLiteral("chkWeb"));
    web->setText(m_s.texts.LoadText(1879));
    web->setChecked(m_s.settings.ReadSetting(QStringLiteral("Web"), QStringLiteral("Enabled")) == QLatin1String("1"));
    auto *pin = findChild<QLineEdit *>(QStringLiteral("txtRemotePin"));
    pin->clear();
    pin->setPlaceholderText(m_s.texts.LoadText(remotepin::storedHash(m_s.settings).isEmpty() ? 1518 : 1519));
    pin->setAccessibleName(m_s.texts.LoadText(1518));
    published.popCallId = m_chkPopCallId->isChecked();
    published.minOnStart = m_chkMinOnStart->isChecked();
    published.txtRings = m_txtRings->text();
    m_loaded = true;
    if (m_s.publish)
        m_s.publish(published);
    QGuiApplication::restoreOverrideCursor();
}

void frmSetup::Check1_Click(int index)
{
    if (Check1(index)->isChecked())
        return;
    // A line taken out of use forgets its learned ring timing.
    const QString section = lineKey(index);
    SettingsStore::Batch batch(m_s.settings);
    for (int k = 1; k <= 6; ++k)
        m_s.settings.WriteSetting(section, QStringLiteral("Param") + QString::number(k), QStringLiteral("6500"));
    m_s.settings.WriteSetting(section, QStringLiteral("Calls"), QStringLiteral("50"));
}

void frmSetup::Check1_LostFocus(int index)
{
    int ticked = 0;
    for (const QCheckBox *box : m_check1)
        ticked += box->isChecked() ? 1 : 0;
    if (ticked > m_linesAtOnce) {
        Check1(index)->setChecked(false); // analog lines: at most two record at a time
        m_s.prompts.messageBox(m_s.texts.LoadText(kTwoLinesAtMost), MessageIcon::Information, m_s.texts.LoadText(1004));
    }
}

void frmSetup::txtSilenceLevel_LostFocus()
{
    const QString level = clampSilenceLevel(m_txtSilenceLevel->text());
    if (level != m_txtSilenceLevel->text())
        m_txtSilenceLevel->setText(level);
}

void frmSetup::Command6_Click()
{
    const std::optional<QString> folder
        = m_s.folders.browseForFolder(QStringLiteral("Please select your folder: "), m_txtSaveFile->text());
    if (!folder)
        return;
    const qsizetype nul = folder->indexOf(QChar(0));
    m_txtSaveFile->setText(nul < 0 ? *folder : folder->left(nul));
}

void frmSetup::cmdRings_Click()
{
    frmSetRings rings(m_s.programFolder + QStringLiteral("/Rings.txt"), m_s.prompts, m_s.texts, this);
    m_s.modal.runModal(rings);
}

void frmSetup::cmdSave_Click()
{
    const Texts &t = m_s.texts;
    const QString title = t.LoadText(1004);
    SettingsStore &store = m_s.settings;
    int pos = 0;
    QString rings = m_txtRings->text();
    if (m_txtRings->validator()->validate(rings, pos) != QValidator::Acceptable) {
        m_s.prompts.messageBox(t.LoadText(kRingsRequired), MessageIcon::Information, title);
        m_txtRings->setFocus();
        return;
    }
    auto *pin = findChild<QLineEdit *>(QStringLiteral("txtRemotePin"));
    if (!pin->text().isEmpty() && pin->text().size() < remotepin::kMinDigits) {
        m_s.prompts.messageBox(t.LoadText(1517), MessageIcon::Information, title);
        pin->setFocus();
        return;
    }
    for (LineSettingsFrame *frame : m_backendFrames)
        frame->save();
    bool anyLine = false;
    for (const QCheckBox *box : m_check1)
        anyLine = anyLine || box->isChecked();
    if (!anyLine) {
        // Saved without a line, Telvox answers nothing: ask before, and go back to the boxes.
        const MessageResult answer = m_s.prompts.messageBox(
            t.LoadText(1078) + QStringLiteral("\n\n") + t.LoadText(kNoLineSaveAnyway), MessageIcon::Question, title,
            MessageButtons::YesNo);
        if (answer != MessageResult::Yes) {
            for (QCheckBox *box : m_check1) {
                if (box->isEnabled()) {
                    box->setFocus();
                    break;
                }
            }
            return;
        }
    }
    for (int n = 0; n < 4; ++n)
        store.WriteSettingJournaled(kConfig, lineKey(n), flag(Check1(n)->isChecked()));

    QString path = m_txtSaveFile->text();
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    m_txtSaveFile->setText(path);
    if (path.isEmpty()) {
        m_s.prompts.messageBox(t.LoadText(1080), MessageIcon::Information, title);
        m_txtSaveFile->setFocus();
        return;
    }
    if (!createFolderPath(path)) {
        // Recordings could never be written there: say so rather than end the program.
        m_s.prompts.messageBox(t.LoadText(1501) + path, MessageIcon::Exclamation, title);
        m_txtSaveFile->setFocus();
        return;
    }
    QString reason;
    if (!path.startsWith(QLatin1String("//")) && !checkWritableFolder(path, &reason)) {
        // The folder is there but takes no files (permissions, a read-only disk).
        m_s.prompts.messageBox(t.LoadText(1803).arg(path, reason), MessageIcon::Exclamation, title);
        m_txtSaveFile->setFocus();
        return;
    }

    store.WriteSettingJournaled(kConfig, QStringLiteral("SaveFile"), path);
    store.WriteSetting(QStringLiteral("Web"), QStringLiteral("Enabled"),
                       flag(findChild<QCheckBox *>(QStringLiteral("chkWeb"))->isChecked()));
    if (!pin->text().isEmpty()) {
        remotepin::store(store, pin->text().toLatin1());
        pin->clear();
    }
    if (!m_txtRings->text().isEmpty())
        store.WriteSettingJournaled(kConfig, QStringLiteral("Rings"), m_txtRings->text());
    for (int k = 0; k < 3; ++k) {
        if (Option1(k)->isChecked())
            store.WriteSettingJournaled(kConfig, QStringLiteral("Language"), QString::number(k));
    }
    for (int k = 0; k < 2; ++k) {
        if (Option2(k)->isChecked())
            store.WriteSettingJournaled(kConfig, QStringLiteral("WaveFileFormat"), QString::number(k));
    }
    for (int n = 0; n < 4; ++n)
        store.WriteSettingJournaled(QStringLiteral("Modem"), lineKey(n), txtLine(n)->text());
    store.WriteSettingJournaled(kConfig, QStringLiteral("PopCallID"), flag(m_chkPopCallId->isChecked()));
    store.WriteSettingJournaled(kConfig, QStringLiteral("MinOnStart"), flag(m_chkMinOnStart->isChecked()));
    store.WriteSettingJournaled(kConfig, QStringLiteral("ActionMan"), flag(m_chkAction->isChecked()));
    store.WriteSettingJournaled(kConfig, QStringLiteral("AutoStart"), flag(m_chkStartUp->isChecked()));
    SetStartWithWindows(m_s.autostart, m_chkStartUp->isChecked() ? 1 : 0, m_s.program);
    store.WriteSettingJournaled(kConfig, QStringLiteral("Silence"), flag(m_chkSilence->isChecked()));
    store.WriteSettingJournaled(kConfig, QStringLiteral("SilenceLevel"), m_txtSilenceLevel->text());
    store.WriteSettingJournaled(kConfig, QStringLiteral("SilenceD"), m_txtSilenceSecond->text());
    store.WriteSettingJournaled(kConfig, QStringLiteral("FBS"), flag(m_chkFBS->isChecked()));
    m_fraForward->save();

    // The program starts again by itself when the setup is saved: say that, not "reload".
    m_s.prompts.messageBox(t.LoadText(m_s.restarts ? kSavedRestarting : 1081), MessageIcon::Information, title);
    cmdExit_Click();
    if (m_s.endProgram)
        m_s.endProgram();
}

void frmSetup::cmdExit_Click()
{
    m_loaded = false;
    if (isVisible())
        reject();
}

bool frmSetup::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut) {
        if (watched == m_txtSilenceLevel)
            txtSilenceLevel_LostFocus();
        for (int n = 0; n < 4; ++n) {
            if (watched == Check1(n))
                Check1_LostFocus(n);
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace telvox
