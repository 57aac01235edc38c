#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QLineEdit>
#include <QTest>

#include "WidgetTestSupport.h"
#include "core/Errors.h"
#include "widgets/EditBox.h"
#include "widgets/EditableComboBox.h"

using namespace zyg;
using namespace zyg::testing;

namespace {

class EditBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        box = new EditBox(&window);
        other = new QLineEdit(&window);
        other->move(0, 40);
        box->setText("100");
        box->OnChange = [this] { changes << box->Text(); };
        box->OnExit = [this] { ++exits; };
        box->OnKeyDown = [this](int key, Qt::KeyboardModifiers) { keys.push_back(key); };
        window.showActive();
        box->setFocus(Qt::TabFocusReason);
    }

    FakeServices fakes;
    HostWindow window;
    EditBox* box = nullptr;
    QLineEdit* other = nullptr;
    QStringList changes;
    int exits = 0;
    std::vector<int> keys;
};

}  // namespace

TEST_F(EditBoxTest, ReportsEachChangeOnce) {
    box->setText("100");
    EXPECT_TRUE(changes.isEmpty());
    box->setText("20000");
    EXPECT_EQ(changes, QStringList{"20000"});
    box->selectAll();
    QTest::keyClicks(box, "12");
    EXPECT_EQ(changes, (QStringList{"20000", "1", "12"}));
    other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(exits, 1);
}

TEST_F(EditBoxTest, ErrorsOfProgramWritesReachTheWriterAndOfTypingAreReported) {
    box->OnChange = [] { throw CommandError("'' is not a valid integer value"); };
    EXPECT_THROW(box->setText("5"), CommandError);
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    EXPECT_EQ(fakes.messages.shown, QStringList{"'' is not a valid integer value."});
}

TEST_F(EditBoxTest, EnterStopsHereEscGoesOnToTheWindow) {
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_TRUE(window.keysSeen.empty());
    QTest::keyClick(box, Qt::Key_Escape);
    EXPECT_EQ(window.keysSeen, std::vector<int>{Qt::Key_Escape});
    EXPECT_EQ(keys, (std::vector<int>{Qt::Key_Return, Qt::Key_Escape}));
}

namespace {

class ComboTest : public ::testing::Test {
protected:
    void SetUp() override {
        combo = new EditableComboBox(&window);
        combo->setItems({"1000", "10", "100", "1", "10000"});
        combo->setText("1000");
        combo->OnChange = [this] { changes << combo->Text(); };
        combo->OnKeyDown = [this](int key, Qt::KeyboardModifiers) { keys.push_back(key); };
        window.showActive();
        combo->setFocus(Qt::TabFocusReason);
    }

    FakeServices fakes;
    HostWindow window;
    EditableComboBox* combo = nullptr;
    QStringList changes;
    std::vector<int> keys;
};

QStringList itemsOf(const QComboBox& combo) {
    QStringList items;
    for (int i = 0; i < combo.count(); ++i) items << combo.itemText(i);
    return items;
}

}  // namespace

TEST_F(ComboTest, KeepsItemsSortedAndTheTypedTextAsTyped) {
    EXPECT_EQ(itemsOf(*combo), (QStringList{"1", "10", "100", "1000", "10000"}));
    EXPECT_EQ(combo->Text(), "1000");
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo, "77");
    QTest::keyClick(combo, Qt::Key_Return);
    EXPECT_EQ(combo->Text(), "77");
    EXPECT_EQ(combo->count(), 5);  // nothing inserted
    EXPECT_EQ(changes, (QStringList{"7", "77"}));
    EXPECT_TRUE(window.keysSeen.empty());

    // No completion from the list.
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo, "10");
    EXPECT_EQ(combo->Text(), "10");
    EXPECT_FALSE(combo->lineEdit()->hasSelectedText());
}

TEST_F(ComboTest, ChoosingAnItemIsAChange) {
    combo->showPopup();
    QAbstractItemView* list = combo->view();
    ASSERT_TRUE(list->isVisible());
    const QModelIndex item = list->model()->index(1, 0);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(item).center());
    EXPECT_EQ(combo->Text(), "10");
    EXPECT_EQ(changes, QStringList{"10"});
}

TEST_F(ComboTest, EscGoesOnToTheWindowAndProgramWritesReportChanges) {
    QTest::keyClick(combo, Qt::Key_Escape);
    EXPECT_EQ(window.keysSeen, std::vector<int>{Qt::Key_Escape});
    EXPECT_EQ(keys, std::vector<int>{Qt::Key_Escape});

    combo->setText("1000");
    EXPECT_TRUE(changes.isEmpty());
    combo->OnChange = [] { throw CommandError("boom"); };
    EXPECT_THROW(combo->setText("50000"), CommandError);
    EXPECT_EQ(combo->Text(), "50000");
}
