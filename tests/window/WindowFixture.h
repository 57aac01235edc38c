#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QtTest/QTest>
#include <memory>

#include "Unit5.h"
#include "core/Types.h"
#include "support/FakeServices.h"
#include "support/QtPrinters.h"
#include "widgets/EditBox.h"
#include "widgets/EditableComboBox.h"
#include "widgets/NumericDisplayField.h"
#include "widgets/NumericSpinField.h"

namespace zyg::testing {

// A shown and activated main window with every platform service faked.
class WindowTest : public ::testing::Test {
protected:
    FakeEnvironment env;
    std::unique_ptr<TForm1> form;

    void SetUp() override {
        form = std::make_unique<TForm1>();
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    void TearDown() override { form.reset(); }

    // Types into a field as the user does: focus, select all, keys.
    void typeInto(QLineEdit* field, const QString& text) {
        field->setFocus(Qt::TabFocusReason);
        field->selectAll();
        if (text.isEmpty())
            QTest::keyClick(field, Qt::Key_Backspace);
        else
            QTest::keyClicks(field, text);  // replaces the selected text
    }
    void clearErrors() { env.messages.shown.clear(); }
    QStringList errors() const { return env.messages.texts(MessageKind::Error); }
    QStringList commandErrors() const { return env.messages.texts(MessageKind::ApplicationError); }
    QStringList information() const { return env.messages.texts(MessageKind::Information); }
    int sampleTotal() const {
        return form->o11AdvEdit->text().toInt() + form->o12AdvEdit->text().toInt() +
               form->o22AdvEdit->text().toInt();
    }
    bool saveCommandsEnabled() const {
        return form->SaveButton->isEnabled() && form->SaveAsButton->isEnabled() &&
               form->FileSaveItem->isEnabled() && form->FileSaveAsItem->isEnabled();
    }
    bool saveCommandsDisabled() const {
        return !form->SaveButton->isEnabled() && !form->SaveAsButton->isEnabled() &&
               !form->FileSaveItem->isEnabled() && !form->FileSaveAsItem->isEnabled();
    }
};

}  // namespace zyg::testing
