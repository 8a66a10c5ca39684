#include "components/skin/skin.h"
#include "components/skin/skinlabel.h"
#include "encoders/frmmp3.h"
#include "encoders/frmogg.h"
#include "encoders/frmwma.h"
#include "mainwindowtest.h"
#include "ui/frmabout.h"
#include "ui/skinform.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

class TestSkin : public MainWindowTest
{
    Q_OBJECT

    static QString elementOf(const QWidget* widget)
    {
        return widget->property(Skin::ElementProperty).toString();
    }

private slots:
    void init() { startAfresh(); }

    // Each control is drawn as the element of its kind, also inside frames and tab pages; the
    // button names cmdPlay and cmdStop count only in exactly that spelling.
    void elementsByKind_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("element");
        QTest::newRow("button") << "cmdOk"
                                << "Button";
        QTest::newRow("cmdPlay") << "cmdPlay"
                                 << "play1";
        QTest::newRow("CmdPlay") << "CmdPlay"
                                 << "Button";
        QTest::newRow("cmdStop in a frame") << "cmdStop"
                                            << "stop";
        QTest::newRow("cmdstop") << "cmdstop"
                                 << "Button";
        QTest::newRow("skin label") << "SkinLabel1"
                                    << "label";
        QTest::newRow("plain label") << "lblPlain"
                                     << "";
        QTest::newRow("frame") << "frmOuter"
                               << "Frame";
        QTest::newRow("frame in a frame") << "frmInner"
                                          << "Frame";
        QTest::newRow("check box, two frames deep") << "chkDeep"
                                                    << "CheckBox";
        QTest::newRow("combo box") << "cmbList"
                                   << "ComboBox";
        QTest::newRow("option button on a tab page") << "opOnPage"
                                                     << "Radio";
        QTest::newRow("status bar") << "sbStatus"
                                    << "Statusbar";
        QTest::newRow("tab strip") << "tabPages"
                                   << "tab";
        QTest::newRow("text box") << "txtText"
                                  << "";
        QTest::newRow("slider") << "sldrLevel"
                                << "";
    }

    void elementsByKind()
    {
        QFETCH(QString, control);
        QFETCH(QString, element);
        QWidget window;
        auto add = [](QWidget* w, const char* name, QWidget* parent) {
            w->setObjectName(QLatin1String(name));
            w->setParent(parent);
            return w;
        };
        add(new QPushButton, "cmdOk", &window);
        add(new QPushButton, "cmdPlay", &window);
        add(new QPushButton, "CmdPlay", &window);
        add(new QPushButton, "cmdstop", &window);
        add(new SkinLabel, "SkinLabel1", &window);
        add(new QLabel, "lblPlain", &window);
        QWidget* outer = add(new QGroupBox, "frmOuter", &window);
        add(new QPushButton, "cmdStop", outer);
        QWidget* inner = add(new QGroupBox, "frmInner", outer);
        add(new QCheckBox, "chkDeep", inner);
        add(new QComboBox, "cmbList", &window);
        auto* tabs = static_cast<QTabWidget*>(add(new QTabWidget, "tabPages", &window));
        auto* page = new QWidget;
        add(new QRadioButton, "opOnPage", page);
        tabs->addTab(page, QStringLiteral("Page"));
        add(new QStatusBar, "sbStatus", &window);
        add(new QLineEdit, "txtText", &window);
        add(new QSlider, "sldrLevel", &window);

        Skin skin;
        skin.SkinWindow(&window, QStringLiteral("small form"));
        SkinForm(skin, &window);
        QCOMPARE(elementOf(&window), QStringLiteral("small form"));
        QCOMPARE(elementOf(window.findChild<QWidget*>(control)), element);
    }

    // Each number in plain decimal, the third always 0.
    void versionLine()
    {
        QCOMPARE(aboutVersionLine(3, 10, 12), QStringLiteral("Version 3.10.0.12"));
        QCOMPARE(aboutVersionLine(3, 4, 1), QStringLiteral("Version 3.4.0.1"));
    }

    // A skin file that can't be used leaves the platform style and says why; ours loads.
    void skinFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("loads");
        QTest::newRow("missing") << QByteArray() << false;
        QTest::newRow("empty") << QByteArray("\n  \n") << false;
        QTest::newRow("not a style sheet") << QByteArray("QPushButton { color: ") << false;
        QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 12) << false;
        QTest::newRow("a rule") << QByteArray("QWidget { color: red; }") << true;
    }

    void skinFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, loads);
        const QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("main.skn"));
        if (!content.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        Skin skin;
        QCOMPARE(skin.LoadSkinFile(path), loads);
        QCOMPARE(skin.problem().contains(path), !loads);

        QWidget window;
        skin.SkinWindow(&window, QStringLiteral("form"));
        QCOMPARE(window.styleSheet().isEmpty(), !loads);
        QVERIFY(Skin().LoadSkinFile(QStringLiteral(TAMBREL_SKIN_SOURCE)));
    }

    // Every skinned window can be worked by keyboard alone: Tab reaches each enabled control
    // that takes input, the skin's commands included, and each has a name for screen readers.
    void keyboardAndScreenReader_data()
    {
        QTest::addColumn<QString>("window");
        for (const char* name :
             {"FormMain", "frmmp3", "frmogg", "frmwma", "frmabout", "frmplaytrack"})
            QTest::newRow(name) << name;
    }

    void keyboardAndScreenReader()
    {
        QFETCH(QString, window);
        const QTemporaryDir program;
        QVERIFY(QFile::copy(QStringLiteral(TAMBREL_SKIN_SOURCE),
                            program.filePath(QStringLiteral("main.skn"))));
        FormMain& main = makeWindow({ScriptedGrabber::drive(QStringLiteral("/dev/sr0"), {3})});
        main.setProgramFolder(program.path());
        main.Form_Load();
        main.show();
        std::unique_ptr<QWidget> dialog;
        OutputFile& output = *m_grabber->AudioFile();
        std::optional<int> wmaProfile;
        if (window == QLatin1String("frmmp3"))
            dialog = std::make_unique<frmmp3>(output, m_dialogs, &main);
        else if (window == QLatin1String("frmogg"))
            dialog = std::make_unique<frmogg>(output, m_dialogs, &main);
        else if (window == QLatin1String("frmwma"))
            dialog = std::make_unique<frmwma>(output, wmaProfile, &main);
        else if (window == QLatin1String("frmabout")) {
            auto about = std::make_unique<frmabout>(m_dialogs, program.path(), &main);
            QVERIFY(about->Form_Load());
            dialog = std::move(about);
        }
        // The player's dialog belongs to the window for the whole run.
        QWidget* shown = dialog ? dialog.get() : static_cast<QWidget*>(&main);
        if (window == QLatin1String("frmplaytrack"))
            shown = main.findChild<QWidget*>(window);
        shown->show();
        QVERIFY(QTest::qWaitForWindowActive(shown));
        QCOMPARE(elementOf(shown),
                 shown == &main ? QStringLiteral("form") : QStringLiteral("small form"));

        QSet<QWidget*> reached;
        QWidget* first = shown->nextInFocusChain();
        for (QWidget* w = first; !reached.contains(w); w = w->nextInFocusChain())
            reached.insert(w);
        const QList<QWidget*> controls = shown->findChildren<QWidget*>();
        for (QWidget* w : controls) {
            const bool takesInput =
                qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
                qobject_cast<QSlider*>(w) ||
                (qobject_cast<QAbstractItemView*>(w) && !qobject_cast<QHeaderView*>(w));
            if (!takesInput || !w->isVisibleTo(shown) || w->window() != shown ||
                w->parentWidget()->inherits("QTabBar"))
                continue;
            QVERIFY2(reached.contains(w) && (w->focusPolicy() & Qt::TabFocus),
                     w->metaObject()->className());
            QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(w);
            QVERIFY2(reader && !reader->text(QAccessible::Name).isEmpty(),
                     qPrintable(w->objectName()));
        }
        if (shown == &main) {
            // The skin's commands: named as they read, each raising its element by keyboard.
            QStringList raised;
            connect(main.skin(), &Skin::ElementAction, this,
                    [&](const SkinElement& e) { raised << e.ElementName(); });
            QStringList names;
            for (const char* element : {"convert", "play", "cancel", "help", "about"}) {
                auto* command = main.findChild<QToolButton*>(QLatin1String(element));
                QVERIFY(command && reached.contains(command));
                names << QAccessible::queryAccessibleInterface(command)->text(QAccessible::Name);
                if (QLatin1String(element) != QLatin1String("about") &&
                    QLatin1String(element) != QLatin1String("convert")) {
                    command->setFocus();
                    QTest::keyClick(command, Qt::Key_Space);
                }
            }
            QCOMPARE(names, QStringList({QStringLiteral("Convert"), QStringLiteral("Play"),
                                         QStringLiteral("Cancel"), QStringLiteral("Help"),
                                         QStringLiteral("About")}));
            QCOMPARE(raised, QStringList({QStringLiteral("play"), QStringLiteral("cancel"),
                                          QStringLiteral("help")}));
        }
        dialog.reset();
        closeWindow();
    }
};

QTEST_MAIN(TestSkin)
#include "tst_skin.moc"
