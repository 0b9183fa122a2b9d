#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <vector>

#include "app/CAboutDlg.h"
#include "app/CManualDlg.h"
#include "ui/SystemMessage.h"
#include "image/ui/CAddressDlg.h"
#include "image/ui/CHexEdit.h"
#include "job/JobHeader.h"
#include "job/ui/COptionsDlg.h"
#include "remote/ui/CSerNumDlg.h"

namespace {

const QString kEnQuads = QStringLiteral("\u2000\u2000");

template <typename T>
T* Child(QWidget& dialog, const char* name) {
    T* child = dialog.findChild<T*>(QLatin1String(name));
    if (child == nullptr) qFatal("no control %s", name);
    return child;
}

void Click(QWidget& dialog, const char* name) { Child<QPushButton>(dialog, name)->click(); }

void Retype(QLineEdit* edit, const QString& text) {
    edit->clear();
    QTest::keyClicks(edit, text);
}

// Pasted text bypasses the key filters.
void Paste(QLineEdit* edit, const QString& text) {
    QApplication::clipboard()->setText(text);
    edit->selectAll();
    edit->paste();
}

// Every control inside the dialog and every text fully visible in its control.
void VerifyTextsVisible(QWidget& dialog) {
    const QRect area(QPoint(0, 0), dialog.size());
    for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QByteArray name = child->objectName().toUtf8();
        QVERIFY2(area.contains(child->geometry()), name.constData());
        const QFontMetrics metrics(child->font());
        if (auto* label = qobject_cast<QLabel*>(child); label && label->pixmap().isNull()) {
            const int needed = label->wordWrap() ? label->heightForWidth(label->width())
                                                 : label->sizeHint().height();
            // One pixel of slack: a unit-sized line rounds to the font's fractional height.
            QVERIFY2(needed <= label->height() + 1, name.constData());
            if (!label->wordWrap()) QVERIFY2(label->sizeHint().width() <= label->width(), name);
        } else if (auto* check = qobject_cast<QCheckBox*>(child)) {
            QVERIFY2(check->sizeHint().width() <= check->width(), name.constData());
        } else if (auto* button = qobject_cast<QPushButton*>(child)) {
            QVERIFY2(metrics.horizontalAdvance(button->text()) + 8 <= button->width(),
                     name.constData());
        } else if (auto* group = qobject_cast<QGroupBox*>(child)) {
            QVERIFY2(metrics.horizontalAdvance(group->title()) + 16 <= group->width(),
                     name.constData());
        } else if (auto* list = qobject_cast<QComboBox*>(child)) {
            for (int i = 0; i < list->count(); ++i) {
                QVERIFY2(metrics.horizontalAdvance(list->itemText(i)) + 24 <= list->width(),
                         name.constData());
            }
        }
    }
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

private:
    std::vector<SystemMessage> messages_;

    void VerifyOneRefusal(QWidget& owner, const QString& text) {
        QCOMPARE(messages_.size(), std::size_t{1});
        QCOMPARE(messages_[0].text, text);
        QCOMPARE(messages_[0].icon, QMessageBox::Warning);
        QCOMPARE(messages_[0].caption, kEnQuads);
        QCOMPARE(messages_[0].owner, &owner);
        QVERIFY(!messages_[0].question);
    }

private slots:
    void init() {
        messages_.clear();
        SetSystemMessageHook([this](const SystemMessage& message) {
            messages_.push_back(message);
            return false;
        });
    }
    void cleanup() { SetSystemMessageHook(nullptr); }

    void hexEditFiltersTypedCharacters() {
        CHexEdit edit;
        edit.show();
        QTest::keyClicks(&edit, "x");
        QTest::keyClicks(&edit, "g");
        QCOMPARE(edit.text(), QString());
        QTest::keyClicks(&edit, "a1f");
        QCOMPARE(edit.text(), QStringLiteral("A1F"));
        QTest::keyClicks(&edit, "-+ 0x.Z9");
        QCOMPARE(edit.text(), QStringLiteral("A1F09"));
        QTest::keyClick(&edit, Qt::Key_Backspace);
        QCOMPARE(edit.text(), QStringLiteral("A1F0"));
        // Keys that type nothing keep working: the cursor moves, Delete deletes.
        QTest::keyClick(&edit, Qt::Key_Home);
        QTest::keyClick(&edit, Qt::Key_Right);
        QTest::keyClicks(&edit, "b");
        QCOMPARE(edit.text(), QStringLiteral("AB1F0"));
        QTest::keyClick(&edit, Qt::Key_Delete);
        QCOMPARE(edit.text(), QStringLiteral("ABF0"));
    }

    void hexEditDropsClipboardShortcutsButNotMenuPaste() {
        CHexEdit edit;
        edit.show();
        QApplication::clipboard()->setText(QStringLiteral("zz12"));
        QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit.text(), QString());
        QTest::keyClicks(&edit, "ab");
        QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(&edit, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(edit.text(), QStringLiteral("AB"));
        edit.paste();  // what the context menu does
        QCOMPARE(edit.text(), QStringLiteral("ABzz12"));
    }

    void addressDialogPresetAndAcceptedEntries_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("retype");
        QTest::addColumn<quint32>("address");
        QTest::newRow("preset kept") << QString() << false << quint32{0x08000000};
        QTest::newRow("empty field") << QString() << true << quint32{0x08000000};
        QTest::newRow("seven digits") << QStringLiteral("8004000") << true << quint32{0x08004000};
        QTest::newRow("eight digits") << QStringLiteral("ffffffff") << true << quint32{0xFFFFFFFF};
        QTest::newRow("one digit") << QStringLiteral("0") << true << quint32{0};
    }
    void addressDialogPresetAndAcceptedEntries() {
        QFETCH(QString, typed);
        QFETCH(bool, retype);
        QFETCH(quint32, address);
        CAddressDlg dialog(nullptr);
        dialog.show();
        auto* edit = Child<CHexEdit>(dialog, "id1014");
        QCOMPARE(edit->text(), QStringLiteral("08000000"));
        if (retype) Retype(edit, typed);
        Click(dialog, "id1");
        QCOMPARE(dialog.result(), int{QDialog::Accepted});
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.startAddress, address);
        QVERIFY(messages_.empty());
    }

    void addressDialogTypingReplacesThePreset() {
        CAddressDlg dialog(nullptr);
        dialog.show();
        QTest::keyClicks(Child<CHexEdit>(dialog, "id1014"), "8004000");
        Click(dialog, "id1");
        QCOMPARE(dialog.startAddress, std::uint32_t{0x08004000});
    }

    void addressDialogRefusesNineCharacters() {
        CAddressDlg dialog(nullptr);
        dialog.show();
        auto* edit = Child<CHexEdit>(dialog, "id1014");
        Retype(edit, QStringLiteral("123456789"));
        Click(dialog, "id1");
        VerifyOneRefusal(dialog, QStringLiteral("地址范围 0x00000000-0xFFFFFFFF"));
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.startAddress, std::uint32_t{0x08000000});
        // Corrected, the same dialog takes it.
        QTest::keyClick(edit, Qt::Key_Backspace);
        Click(dialog, "id1");
        QCOMPARE(dialog.result(), int{QDialog::Accepted});
        QCOMPARE(dialog.startAddress, std::uint32_t{0x12345678});
    }

    void addressDialogCancelAndUnreadableText() {
        CAddressDlg cancelled(nullptr);
        cancelled.show();
        Retype(Child<CHexEdit>(cancelled, "id1014"), QStringLiteral("1234"));
        Click(cancelled, "id2");
        QCOMPARE(cancelled.result(), int{QDialog::Rejected});
        QCOMPARE(cancelled.startAddress, std::uint32_t{0x08000000});

        CAddressDlg pasted(nullptr);
        pasted.show();
        Paste(Child<CHexEdit>(pasted, "id1014"), QStringLiteral("zz"));
        Click(pasted, "id1");
        QCOMPARE(pasted.result(), int{QDialog::Accepted});
        QCOMPARE(pasted.startAddress, std::uint32_t{0x08000000});
        QVERIFY(messages_.empty());
    }

    void optionsDialogShowsDefaultsDisabled() {
        CodeShift shift;
        COptionsDlg dialog(shift, nullptr);
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Опции"));
        QVERIFY(!Child<QCheckBox>(dialog, "id1022")->isChecked());
        QCOMPARE(Child<QLineEdit>(dialog, "id1024")->text(), QStringLiteral("08004000"));
        QCOMPARE(Child<QLineEdit>(dialog, "id1025")->text(), QStringLiteral("0"));
        QCOMPARE(Child<QLineEdit>(dialog, "id1026")->text(), QStringLiteral("1"));
        auto* width = Child<QComboBox>(dialog, "id1027");
        auto* type = Child<QComboBox>(dialog, "id1001");
        QCOMPARE(width->currentText(), QStringLiteral("4 Byte"));
        QCOMPARE(type->currentText(), QStringLiteral("Low\u2000"));
        QCOMPARE(width->count(), 4);
        QCOMPARE(type->itemText(1), QStringLiteral("High"));
        QVERIFY(!width->isEditable());
        for (const char* name : {"id1024", "id1025", "id1026", "id1027", "id1001"}) {
            QVERIFY2(!Child<QWidget>(dialog, name)->isEnabled(), name);
        }
        // Checking enables all five at once; unchecking disables them again.
        auto* enable = Child<QCheckBox>(dialog, "id1022");
        QTest::mouseClick(enable, Qt::LeftButton, {}, QPoint(4, enable->height() / 2));
        QVERIFY(enable->isChecked());
        for (const char* name : {"id1024", "id1025", "id1026", "id1027", "id1001"}) {
            QVERIFY2(Child<QWidget>(dialog, name)->isEnabled(), name);
        }
        enable->click();
        QVERIFY(!Child<QWidget>(dialog, "id1027")->isEnabled());
    }

    void optionsDialogAddress_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<quint32>("address");
        const QString align = QStringLiteral("滚码地址必须4字节对齐");
        QTest::newRow("unaligned") << QStringLiteral("8004002") << align << quint32{0x08004000};
        QTest::newRow("aligned") << QStringLiteral("8004004") << QString() << quint32{0x08004004};
    }
    void optionsDialogAddress() {
        QFETCH(QString, text);
        QFETCH(QString, refusal);
        QFETCH(quint32, address);
        CodeShift shift;
        COptionsDlg dialog(shift, nullptr);
        dialog.show();
        Child<QCheckBox>(dialog, "id1022")->click();
        Retype(Child<QLineEdit>(dialog, "id1024"), text);
        Click(dialog, "id1");
        QCOMPARE(shift.shiftAddress, address);
        if (refusal.isEmpty()) {
            QVERIFY(messages_.empty());
            QCOMPARE(dialog.result(), int{QDialog::Accepted});
        } else {
            VerifyOneRefusal(dialog, refusal);
            QVERIFY(dialog.isVisible());
        }
    }

    void optionsDialogNumbersAreTypedAsDigitsAndPastedAsIs() {
        CodeShift shift;
        COptionsDlg dialog(shift, nullptr);
        dialog.show();
        Child<QCheckBox>(dialog, "id1022")->click();
        auto* start = Child<QLineEdit>(dialog, "id1025");
        auto* step = Child<QLineEdit>(dialog, "id1026");
        Retype(start, QStringLiteral("-1a2 "));
        QCOMPARE(start->text(), QStringLiteral("12"));
        QApplication::clipboard()->setText(QStringLiteral("-5"));
        start->selectAll();
        QTest::keyClick(start, Qt::Key_V, Qt::ControlModifier);  // shortcuts still work
        QCOMPARE(start->text(), QStringLiteral("-5"));
        Paste(step, QStringLiteral("0"));
        Click(dialog, "id1");
        QCOMPARE(dialog.result(), int{QDialog::Accepted});
        QCOMPARE(shift.shiftStart, -5);
        QCOMPARE(shift.shiftStep, 0);
    }

    void optionsDialogFormat_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("format");
        QTest::newRow("3 Byte High") << 2 << 1 << 6;
        QTest::newRow("2 Byte Low") << 1 << 0 << 1;
    }
    void optionsDialogFormat() {
        QFETCH(int, width);
        QFETCH(int, type);
        QFETCH(int, format);
        CodeShift shift;
        COptionsDlg dialog(shift, nullptr);
        dialog.show();
        Child<QCheckBox>(dialog, "id1022")->click();
        Child<QComboBox>(dialog, "id1027")->setCurrentIndex(width);
        Child<QComboBox>(dialog, "id1001")->setCurrentIndex(type);
        Click(dialog, "id1");
        QCOMPARE(int{shift.shiftFormat}, format);
    }

    void optionsDialogKeepsEnabledAfterRefusalAndCancel() {
        CodeShift shift;
        COptionsDlg dialog(shift, nullptr);
        dialog.show();
        Child<QCheckBox>(dialog, "id1022")->click();
        Retype(Child<QLineEdit>(dialog, "id1024"), QStringLiteral("8004002"));
        Retype(Child<QLineEdit>(dialog, "id1025"), QStringLiteral("99"));
        Child<QComboBox>(dialog, "id1027")->setCurrentIndex(0);
        Click(dialog, "id1");
        QCOMPARE(shift.shiftEnabled, std::uint16_t{1});
        Click(dialog, "id2");
        QCOMPARE(dialog.result(), int{QDialog::Rejected});
        const CodeShift defaults;
        QCOMPARE(shift.shiftEnabled, std::uint16_t{1});
        QCOMPARE(shift.shiftAddress, defaults.shiftAddress);
        QCOMPARE(shift.shiftStart, defaults.shiftStart);
        QCOMPARE(shift.shiftFormat, defaults.shiftFormat);

        // Unchecked and cancelled without OK: nothing changes.
        COptionsDlg again(shift, nullptr);
        again.show();
        Child<QCheckBox>(again, "id1022")->click();
        Click(again, "id2");
        QCOMPARE(shift.shiftEnabled, std::uint16_t{1});
    }

    void serialNumberDialog_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<quint32>("code");
        QTest::newRow("seven") << QStringLiteral("1234567") << false << quint32{0};
        QTest::newRow("nine") << QStringLiteral("123456789") << false << quint32{0};
        QTest::newRow("empty") << QString() << false << quint32{0};
        QTest::newRow("eight") << QStringLiteral("00001234") << true << quint32{0x1234};
        QTest::newRow("lower case") << QStringLiteral("deadBEEF") << true << quint32{0xDEADBEEF};
        QTest::newRow("zero") << QStringLiteral("00000000") << true << quint32{0};
        QTest::newRow("not hexadecimal") << QStringLiteral("12zz5678") << true << quint32{0x12};
    }
    void serialNumberDialog() {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QFETCH(quint32, code);
        CSerNumDlg dialog(nullptr);
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("SN Устройства"));
        QTest::keyClicks(Child<QLineEdit>(dialog, "id1032"), text);
        Click(dialog, "id1");
        QCOMPARE(dialog.code, code);
        if (accepted) {
            QVERIFY(messages_.empty());
            QCOMPARE(dialog.result(), int{QDialog::Accepted});
        } else {
            VerifyOneRefusal(dialog, QStringLiteral("请输入正确的设备ID"));
            QVERIFY(dialog.isVisible());
            Click(dialog, "id2");
            QCOMPARE(dialog.result(), int{QDialog::Rejected});
            QCOMPARE(dialog.code, std::uint32_t{0});
        }
    }

    void aboutDialog_data() {
        QTest::addColumn<quint32>("version");
        QTest::addColumn<quint32>("code");
        QTest::addColumn<QString>("versionLine");
        QTest::addColumn<QString>("deviceId");
        QTest::newRow("no programmer")
            << quint32{0} << quint32{0} << QStringLiteral("Version:0.00") << QString();
        QTest::newRow("newer kind")
            << quint32{0x1002} << quint32{0x00001234} << QStringLiteral("Version:10.02")
            << QStringLiteral("00001234");
        QTest::newRow("older kind") << quint32{0x0102} << quint32{0xDEADBEEF}
                                    << QStringLiteral("Version:1.02") << QStringLiteral("DEADBEEF");
    }
    void aboutDialog() {
        QFETCH(quint32, version);
        QFETCH(quint32, code);
        QFETCH(QString, versionLine);
        QFETCH(QString, deviceId);
        CAboutDlg dialog(version, code, nullptr);
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Устройство"));
        QCOMPARE(Child<QLabel>(dialog, "id1012")->text(), versionLine);
        auto* id = Child<QLineEdit>(dialog, "id1032");
        QCOMPARE(id->text(), deviceId);
        QVERIFY(!id->isReadOnly());
        auto* ok = Child<QPushButton>(dialog, "id1");
        QCOMPARE(ok->text(), QStringLiteral("Определить"));
        QVERIFY(ok->isDefault());
        ok->click();
        QCOMPARE(dialog.result(), int{QDialog::Accepted});
    }

    void manualDialog() {
        CManualDlg dialog(nullptr);
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Руководство"));
        QCOMPARE(Child<QLabel>(dialog, "pinoutLabel")->text(),
                 QStringLiteral("1:3.3V 2:GND 3:SWCLK 4:SWDIO"));
        QCOMPARE(Child<QLabel>(dialog, "ledLabel5")->text(),
                 QStringLiteral("5:Красный и синий мигающий: Большой размер загружаемого файла"));
        auto* picture = Child<QLabel>(dialog, "id1015");
        QVERIFY(!picture->pixmap().isNull());
        QCOMPARE(picture->pixmap().size(), QSize(153, 66));
        QCOMPARE(picture->size(), QSize(153, 66));
        QVERIFY(dialog.rect().contains(picture->geometry()));
        // The support line and its frame lie below the bottom edge.
        auto* link = Child<QLabel>(dialog, "id1033");
        QCOMPARE(link->text(), kManualSupportLine);
        QVERIFY(link->geometry().top() >= dialog.height());
        QVERIFY(dialog.findChildren<QPushButton*>().isEmpty());
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
    }

    void textsFitTheirControls() {
        CodeShift shift;
        CAddressDlg address(nullptr);
        COptionsDlg options(shift, nullptr);
        CSerNumDlg serial(nullptr);
        CAboutDlg about(0x1002, 0x12345678, nullptr);
        // With several programmers attached, the line that names the chosen one.
        CAboutDlg aboutOneOfSeveral(0x1002, 0x12345678, nullptr,
                                    QStringLiteral("0002  /dev/hidraw1"));
        aboutOneOfSeveral.setObjectName(QStringLiteral("CAboutDlg with a USB line"));
        for (QWidget* dialog : std::initializer_list<QWidget*>{&address, &options, &serial, &about,
                                                               &aboutOneOfSeveral}) {
            VerifyTextsVisible(*dialog);
            if (QTest::currentTestFailed()) QFAIL(dialog->objectName().toUtf8().constData());
        }
        CManualDlg manual(nullptr);
        for (const char* name :
             {"pinoutLabel", "ledLabel1", "ledLabel2", "ledLabel3", "ledLabel4", "ledLabel5"}) {
            auto* label = Child<QLabel>(manual, name);
            QVERIFY2(label->heightForWidth(label->width()) <= label->height() + 1, name);
        }
    }
};

QTEST_MAIN(DialogsTest)
#include "Dialogs_test.moc"
