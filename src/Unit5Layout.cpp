// The window's controls: the menu, every control's place, caption, hint and
// help context, and the tab order. The handlers are wired in Unit5.cpp.

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include "Unit5.h"
#include "charts/DeFinettiWindow.h"
#include "charts/PowerCurveWindow.h"
#include "platform/Fonts.h"
#include "platform/Pictures.h"
#include "widgets/EditBox.h"
#include "widgets/EditableComboBox.h"
#include "widgets/NumericDisplayField.h"
#include "widgets/NumericSpinField.h"
#include "widgets/RepeatGuards.h"
#include "widgets/RichTextLabel.h"
#include "widgets/StatusHints.h"

namespace zyg {

namespace {

template <class W, class... Args>
W* place(QWidget* parent, const char* name, QRect geometry, Args&&... args) {
    auto* w = new W(std::forward<Args>(args)..., parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(geometry);
    return w;
}

}  // namespace

void TForm1::buildMenu() {
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    MainMenu1->setFont(windowFont());

    File1 = MainMenu1->addMenu(QStringLiteral("&File"));
    File1->setObjectName(QStringLiteral("File1"));
    FileRunItem = File1->addAction(menuIcon(MenuPicture::Run), QStringLiteral("&Run"));
    FileRunItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    setHelpContext(FileRunItem, 6001);
    FileSaveItem = File1->addAction(menuIcon(MenuPicture::Save), QStringLiteral("&Save"));
    FileSaveItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    setHelpContext(FileSaveItem, 7001);
    FileSaveAsItem = File1->addAction(menuIcon(MenuPicture::SaveAs), QStringLiteral("Save &As"));
    FileSaveAsItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    setHelpContext(FileSaveAsItem, 7001);
    FileExitItem = File1->addAction(QStringLiteral("E&xit"));
    FileExitItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));

    buildToolsMenu();

    Help1 = MainMenu1->addMenu(QStringLiteral("&Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    Help2 =
        Help1->addAction(menuIcon(MenuPicture::HelpTopics), QStringLiteral("Show &Help Topics"));
    Help2->setShortcut(QKeySequence(Qt::Key_F1));
    Help1->setDefaultAction(Help2);
    // The menu draws its default item bold but measures it in the plain font;
    // measured bold, it keeps the usual gap before its shortcut.
    {
        QFont bold = Help1->font();
        bold.setBold(true);
        Help2->setFont(bold);
    }
    About1 = Help1->addAction(QStringLiteral("&About"));

    FileRunItem->setObjectName(QStringLiteral("FileRunItem"));
    FileSaveItem->setObjectName(QStringLiteral("FileSaveItem"));
    FileSaveAsItem->setObjectName(QStringLiteral("FileSaveAsItem"));
    FileExitItem->setObjectName(QStringLiteral("FileExitItem"));
    Help2->setObjectName(QStringLiteral("Help2"));
    About1->setObjectName(QStringLiteral("About1"));
    for (QAction* a : {FileRunItem, FileSaveItem, FileSaveAsItem, FileExitItem, Help2, About1}) {
        a->setShortcutContext(Qt::WindowShortcut);
        a->setShortcutVisibleInContextMenu(true);
        addAction(a);  // the shortcuts work while the menu is closed
    }
    for (QMenu* m : {File1, Tools1, Help1}) m->installEventFilter(this);
}

void TForm1::buildToolsMenu() {
    // Alt+T is taken by no caption of the window.
    Tools1 = MainMenu1->addMenu(QStringLiteral("&Tools"));
    Tools1->setObjectName(QStringLiteral("Tools1"));
    ToolsPowerCurveItem = Tools1->addAction(QStringLiteral("&Power Curve..."));
    ToolsPowerCurveItem->setObjectName(QStringLiteral("ToolsPowerCurveItem"));
    setHint(ToolsPowerCurveItem, QStringLiteral("| Draw power against sample size"));
    setHelpContext(ToolsPowerCurveItem, kPowerCurveHelpContext);
    ToolsDeFinettiItem = Tools1->addAction(QStringLiteral("&De Finetti Diagram..."));
    ToolsDeFinettiItem->setObjectName(QStringLiteral("ToolsDeFinettiItem"));
    setHint(ToolsDeFinettiItem,
            QStringLiteral("| Show the model and the samples the test accepts in the genotype "
                           "triangle"));
    setHelpContext(ToolsDeFinettiItem, kDeFinettiHelpContext);
}

void TForm1::buildControls() {
    QWidget* c = client;
    const QColor windowColour = palette().color(QPalette::Window);

    auto group = [&](const char* name, QRect r, const char* title, const char* hint, int help) {
        auto* g = place<QGroupBox>(c, name, r);
        g->setTitle(QString::fromLatin1(title));
        setHint(g, QString::fromLatin1(hint));
        setHelpContext(g, help);
        return g;
    };
    // Model frame with its four radio buttons as siblings over it.
    ModelRadioGroup =
        group("ModelRadioGroup", {20, 25, 136, 180}, " Model ", "| Choose one model", 1000);
    auto radio = [&](const char* name, int y, const char* caption, const char* hint, int help) {
        auto* b = place<QRadioButton>(c, name, {40, y, 113, 17});
        b->setText(QString::fromLatin1(caption));
        setHint(b, QString::fromLatin1(hint));
        setHelpContext(b, help);
        return b;
    };
    HWRadioButton = radio("HWRadioButton", 57, "&Hardy-Weinberg", "| Hardy-Weinberg model", 1001);
    WRadioButton =
        radio("WRadioButton", 95, "&Wahlund", "| Wahlund model (divided population)", 1002);
    IRadioButton = radio("IRadioButton", 132, "&Inbreeding", "| Inbreeding", 1003);
    SRadioButton = radio("SRadioButton", 170, "&Natural Selection", "| Natural selection", 1004);
    HWRadioButton->setChecked(true);

    // Progress bar and message line share a strip below the model frame.
    ProgressBar1 = place<QProgressBar>(c, "ProgressBar1", {20, 230, 480, 20});
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->hide();
    MessageLabel = place<QLabel>(c, "MessageLabel", {20, 235, 480, 25});
    MessageLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
    MessageLabel->setWordWrap(true);
    MessageLabel->setTextFormat(Qt::PlainText);
    {
        QPalette pal = MessageLabel->palette();
        pal.setColor(QPalette::WindowText, QColor(0x80, 0x00, 0x00));
        MessageLabel->setPalette(pal);
    }

    // Parameters.
    ParameterGroupBox =
        group("ParameterGroupBox", {20, 260, 480, 145}, " Parameters ", "| Set parameters", 2000);
    auto spin = [](QWidget* parent, const char* name, QRect r, int decimals, double min, double max,
                   double value, const char* hint, int help) {
        auto* f = place<NumericSpinField>(parent, name, r);
        f->setPrecision(decimals);
        f->setMinFloatValue(min);
        f->setMaxFloatValue(max);
        f->setMinValue(0);
        f->setIncrementFloat(0.01);
        f->setIncrementFloatPage(1);
        f->setFloatValue(value);
        setHint(f, QString::fromLatin1(hint));
        setHelpContext(f, help);
        return f;
    };
    auto label = [](QWidget* parent, const char* name, QRect r, const char* caption) {
        auto* l = place<QLabel>(parent, name, r);
        l->setText(QString::fromLatin1(caption));
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return l;
    };
    Label1 = label(ParameterGroupBox, "Label1", {8, 60, 30, 21}, "&p : ");
    pAdvSpinEdit = spin(ParameterGroupBox, "pAdvSpinEdit", {40, 60, 105, 21}, 6, 0.01, 0.99, 0.4,
                        "| A1 Allele frequency", 2001);
    Label1->setBuddy(pAdvSpinEdit);

    NoPanPanel = place<QFrame>(ParameterGroupBox, "NoPanPanel", {167, 10, 140, 131});
    varLabel = label(NoPanPanel, "varLabel", {0, 40, 45, 21}, "&var : ");
    VarAdvSpinEdit = spin(NoPanPanel, "VarAdvSpinEdit", {47, 40, 85, 21}, 4, 0, 1, 0.01,
                          "| Wahlund variance", 2002);
    varLabel->setBuddy(VarAdvSpinEdit);
    inbLabel = label(NoPanPanel, "inbLabel", {0, 80, 45, 21}, "&f : ");
    inbLabel->setTextFormat(Qt::PlainText);
    inbLabel->setText(QStringLiteral("f : "));  // no focus target, so no accelerator
    inbAdvSpinEdit = spin(NoPanPanel, "inbAdvSpinEdit", {47, 80, 85, 21}, 4, 0, 1, 0.01,
                          "| Inbreeding coefficient", 2003);

    SelPanel = place<QFrame>(ParameterGroupBox, "SelPanel", {325, 10, 149, 128});
    w11Label = label(SelPanel, "w11Label", {0, 25, 50, 21}, "W11 : ");
    W11AdvSpinEdit = spin(SelPanel, "W11AdvSpinEdit", {52, 25, 85, 21}, 4, 0, 10, 1.1,
                          "| Fitness of genotype 11", 2004);
    w12Label = label(SelPanel, "w12Label", {0, 60, 50, 21}, "W12 : ");
    W12AdvSpinEdit = spin(SelPanel, "W12AdvSpinEdit", {52, 60, 85, 21}, 4, 0, 10, 1,
                          "| Fitness of genotype 12", 2004);
    w22Label = label(SelPanel, "w22Label", {0, 95, 50, 21}, "W22 : ");
    W22AdvSpinEdit = spin(SelPanel, "W22AdvSpinEdit", {52, 95, 85, 21}, 4, 0, 10, 0.91,
                          "| Fitness of genotype 22", 2004);

    // Expected frequencies and counts.
    ExpectedPanel = place<QFrame>(c, "ExpectedPanel", {170, 3, 330, 91});
    setHint(ExpectedPanel, QStringLiteral("| Expected genotypic frequencies (set automatically "
                                          "based on chosen allele frequency)"));
    A1A1Label = place<QLabel>(ExpectedPanel, "A1A1Label", {123, 10, 40, 13});
    A1A1Label->setText(QStringLiteral("A1A1"));
    A1A2Label = place<QLabel>(ExpectedPanel, "A1A2Label", {203, 10, 40, 13});
    A1A2Label->setText(QStringLiteral("A1A2"));
    A2A2Label = place<QLabel>(ExpectedPanel, "A2A2Label", {283, 10, 40, 13});
    A2A2Label->setText(QStringLiteral("A2A2"));
    Label6 = place<QLabel>(ExpectedPanel, "Label6", {2, 32, 104, 13});
    Label6->setText(QStringLiteral("Expected relative : "));
    Label7 = place<QLabel>(ExpectedPanel, "Label7", {2, 64, 104, 13});
    Label7->setText(QStringLiteral("Expected absolute : "));
    auto display = [&](QWidget* parent, const char* name, QRect r, EditType type, int decimals,
                       const char* text, bool enabled) {
        auto* f = place<NumericDisplayField>(parent, name, r);
        f->setEditType(type);
        f->setPrecision(decimals);
        f->setReadOnly(true);
        f->setDisabledColor(windowColour);
        f->setText(QString::fromLatin1(text));
        f->setEnabled(enabled);
        return f;
    };
    const int columns[3] = {106, 186, 266};
    f11AdvEdit = display(ExpectedPanel, "f11AdvEdit", {columns[0], 28, 62, 21}, etFloat, 6,
                         "0.000000", false);
    f12AdvEdit = display(ExpectedPanel, "f12AdvEdit", {columns[1], 28, 62, 21}, etFloat, 6,
                         "0.000000", false);
    f22AdvEdit = display(ExpectedPanel, "f22AdvEdit", {columns[2], 28, 62, 21}, etFloat, 6,
                         "0.000000", false);
    e11AdvEdit =
        display(ExpectedPanel, "e11AdvEdit", {columns[0], 60, 62, 21}, etFloat, 4, "0.0000", false);
    e12AdvEdit =
        display(ExpectedPanel, "e12AdvEdit", {columns[1], 60, 62, 21}, etFloat, 4, "0.0000", false);
    e22AdvEdit =
        display(ExpectedPanel, "e22AdvEdit", {columns[2], 60, 62, 21}, etFloat, 4, "0.0000", false);
    for (auto* e : {e11AdvEdit, e12AdvEdit, e22AdvEdit})
        setHint(e, QStringLiteral("| Expected genotypic frequencies (set automatically)"));

    // Observed counts of the last sample.
    AbsolutePanel = place<QFrame>(c, "AbsolutePanel", {170, 100, 330, 30});
    setHint(AbsolutePanel,
            QStringLiteral("| Absolute frequencies observed in the last simulated sample"));
    Label8 = place<QLabel>(AbsolutePanel, "Label8", {2, 8, 104, 13});
    Label8->setText(QStringLiteral("Observed absolute : "));
    o11AdvEdit =
        display(AbsolutePanel, "o11AdvEdit", {columns[0], 4, 62, 21}, etNumeric, 0, "0", false);
    o12AdvEdit =
        display(AbsolutePanel, "o12AdvEdit", {columns[1], 4, 62, 21}, etNumeric, 0, "0", false);
    o22AdvEdit =
        display(AbsolutePanel, "o22AdvEdit", {columns[2], 4, 62, 21}, etNumeric, 0, "0", false);

    // Results.
    ResultsGroupBox = group("ResultsGroupBox", {170, 135, 330, 95}, " Results ", "", 8000);
    {
        QFont bold = windowFont();
        bold.setBold(true);
        ResultsGroupBox->setFont(bold);
    }
    QFont regular = windowFont();
    regular.setBold(false);  // explicitly, or the group's bold would be inherited
    QFont bold = windowFont();
    bold.setBold(true);
    // The column heads lie below the group's frame line, above the fields.
    Label10 = place<QLabel>(ResultsGroupBox, "Label10", {184, 19, 70, 13});
    Label10->setText(QStringLiteral("p > 0.05"));
    Label10->setFont(bold);
    Label11 = place<QLabel>(ResultsGroupBox, "Label11", {265, 19, 60, 13});
    Label11->setText(QStringLiteral("p > 0.01"));
    Label11->setFont(bold);
    X2RTFLabel = place<RichTextLabel>(ResultsGroupBox, "X2RTFLabel", {70, 34, 30, 19});
    X2RTFLabel->setRichText(x2ValueCaption());
    X2RTFLabel->setFont(regular);
    GLabel = place<QLabel>(ResultsGroupBox, "GLabel", {70, 69, 30, 13});
    GLabel->setText(QStringLiteral(" G "));
    GLabel->setFont(regular);
    auto result = [&](const char* name, QRect r, bool isBold, const char* hint) {
        auto* f = display(ResultsGroupBox, name, r, etFloat, 4, "0.0000", true);
        f->setFont(isBold ? bold : regular);
        setHint(f, QString::fromLatin1(hint));
        return f;
    };
    X2AdvEdit = result("X2AdvEdit", {105, 31, 62, 21}, false,
                       "| X2 value for last test, data shown above (blank if test cannot be done)");
    X2_05AdvEdit = result("X2_05AdvEdit", {185, 31, 62, 21}, true,
                          "| Proportion of X2 tests significant at the 5% level");
    X2_01AdvEdit = result("X2_01AdvEdit", {265, 31, 62, 21}, true,
                          "| Proportion of X2 tests significant at the 1% level");
    GAdvEdit = result("GAdvEdit", {105, 66, 62, 21}, false,
                      "| G value for last test, data shown above (blank if test cannot be done)");
    G_05AdvEdit = result("G_05AdvEdit", {185, 66, 62, 21}, true,
                         "| Proportion of G tests significant at the 5% level");
    G_01AdvEdit = result("G_01AdvEdit", {265, 66, 62, 21}, true,
                         "| Proportion of G tests significant at the 1% level");

    // Sample size.
    SampleSizeGroupBox =
        group("SampleSizeGroupBox", {520, 25, 160, 90}, " Sample Size ", "| Set sample size", 3000);
    nEdit = place<EditBox>(SampleSizeGroupBox, "nEdit", {49, 22, 60, 21});
    nEdit->setText(QStringLiteral("100"));
    ScrollBar1 =
        place<ScrollBar>(SampleSizeGroupBox, "ScrollBar1", {19, 59, 121, 16}, Qt::Horizontal);
    ScrollBar1->setRange(10, 1000);
    ScrollBar1->setSingleStep(10);
    ScrollBar1->setPageStep(100);
    ScrollBar1->setValue(100);
    ScrollBar1->setFocusPolicy(Qt::StrongFocus);
    ScrollBar1->setInvertedControls(false);  // Right and Page Up make the sample larger

    // Number of replicates.
    NReplicatesGroupBox =
        group("NReplicatesGroupBox", {520, 130, 160, 70}, " Number of replicates ",
              "| Set number of replications of the simulation", 4000);
    NRComboBox = place<EditableComboBox>(NReplicatesGroupBox, "NRComboBox", {42, 28, 75, 21});
    NRComboBox->setItems({QStringLiteral("1"), QStringLiteral("10"), QStringLiteral("100"),
                          QStringLiteral("1000"), QStringLiteral("10000")});
    NRComboBox->setText(QStringLiteral("1000"));

    // Tests.
    TestGroupBox =
        group("TestGroupBox", {520, 210, 160, 76}, " Test ", "| Select at least one test", 5000);
    X2CheckBox = place<QCheckBox>(TestGroupBox, "X2CheckBox", {20, 20, 70, 17});
    X2CheckBox->setText(QStringLiteral("&Pearson's"));
    X2CheckBox->setChecked(true);
    setHelpContext(X2CheckBox, 5001);
    X2CheckBoxRTFLabel = place<RichTextLabel>(TestGroupBox, "X2CheckBoxRTFLabel", {90, 17, 20, 19});
    X2CheckBoxRTFLabel->setRichText(x2CheckBoxCaption());
    GCheckBox = place<QCheckBox>(TestGroupBox, "GCheckBox", {20, 45, 135, 17});
    GCheckBox->setText(QStringLiteral("&G (Log-likelihood ratio)"));
    setHelpContext(GCheckBox, 5002);

    // Buttons. None is the default button: Enter presses a button only while
    // it has the focus.
    auto button = [&](const char* name, QRect r, const char* caption, const char* hint, int help) {
        auto* b = place<QPushButton>(c, name, r);
        b->setText(QString::fromLatin1(caption));
        b->setAutoDefault(true);
        b->setDefault(false);
        setHint(b, QString::fromLatin1(hint));
        if (help) setHelpContext(b, help);
        return b;
    };
    RunButton = button("RunButton", {570, 300, 75, 25}, "&Run", "| Run the simulation", 6001);
    SaveButton =
        button("SaveButton", {520, 335, 75, 25}, "&Save", "| Save the results in a file", 7001);
    SaveAsButton = button("SaveAsButton", {605, 335, 75, 25}, "Save &As",
                          "| Save the results in a new file", 7001);
    ExitButton = button("ExitButton", {570, 370, 75, 25}, "E&xit", "| Exit the program", 0);

    StatusBar1 = new StatusBar(c, kClientWidth);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setGeometry(0, 412, kClientWidth, 19);
}

void TForm1::setTabOrder() {
    const QList<QWidget*> order = {
        HWRadioButton,  WRadioButton,   IRadioButton,   SRadioButton,   pAdvSpinEdit,
        VarAdvSpinEdit, inbAdvSpinEdit, W11AdvSpinEdit, W12AdvSpinEdit, W22AdvSpinEdit,
        nEdit,          ScrollBar1,     NRComboBox,     X2CheckBox,     GCheckBox,
        RunButton,      SaveButton,     SaveAsButton,   ExitButton,     X2AdvEdit,
        X2_05AdvEdit,   X2_01AdvEdit,   GAdvEdit,       G_05AdvEdit,    G_01AdvEdit};
    for (int i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

}  // namespace zyg
