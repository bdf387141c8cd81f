// The compare window as it opens from the File menu, online with the simulated controller: at its
// first difference, and with the operator's last choice of "Show differences only".

#include "support/PanelTestSupport.h"

#include "config/ConfigText.h"
#include "panel/Compareconfig.h"
#include "toolkit/Text.h"

#include <QDir>

#include <fstream>
#include <string>

namespace {

class TCompareWindowTest : public TPanelTest {
protected:
    // The controller's dump as a file, with the last two force levels changed (far down the table).
    QString FileWithChangedForceLevels(int changes) {
        const TLines dump = Panel->Link->UploadCfgLines("DCC");
        const TConfigText controller = TConfigText::FromLines(dump);
        std::vector<std::string> levels;
        for (const auto& entry : controller.Entries)
            if (entry.Key.rfind("FL ", 0) == 0)
                levels.push_back(entry.Key);
        const QString path = QDir(Files.path()).filePath("levels.cfg");
        std::ofstream out(path.toStdString(), std::ios::binary);
        for (const std::string& line : dump) {
            const std::string key = TConfigText::FromLines({line}).Entries[0].Key;
            const bool changed =
                changes > 0 && std::find(levels.end() - changes, levels.end(), key) != levels.end();
            out << (changed ? key + " " + std::to_string(std::stod(controller.Find(key)->Value) + 1.5) : line)
                << "\n";
        }
        Changed.assign(levels.end() - changes, levels.end());
        return path;
    }
    TCompareConfigForm& Open(const QString& file) {
        Dialogs->AnswerNextFile(file);
        Panel->Files.CompareItem->trigger();
        auto* form = dynamic_cast<TCompareConfigForm*>(Panel->Files.CompareWindow.data());
        EXPECT_NE(form, nullptr);
        return *form;
    }
    static int Row(const TCompareConfigForm& form, const std::string& key) {
        for (int r = 0; r < form.Table->rowCount(); ++r)
            if (ToAnsi(form.Table->item(r, TCompareConfigForm::ParameterColumn)->text()) == key)
                return r;
        return -1;
    }
    static int ShownRows(const TCompareConfigForm& form) {
        int n = 0;
        for (int r = 0; r < form.Table->rowCount(); ++r)
            n += form.Table->isRowHidden(r) ? 0 : 1;
        return n;
    }
    // The row is the current one, selected, and inside the table's view.
    static void ExpectOpenedAt(const TCompareConfigForm& form, int row, const char* when) {
        SCOPED_TRACE(when);
        EXPECT_EQ(form.Table->currentRow(), row);
        const QList<QTableWidgetItem*> selected = form.Table->selectedItems();
        ASSERT_FALSE(selected.isEmpty());
        for (const QTableWidgetItem* item : selected)
            EXPECT_EQ(item->row(), row);
        const QRect cell = form.Table->visualItemRect(form.Table->item(row, 0));
        EXPECT_TRUE(form.Table->viewport()->rect().contains(cell))
            << "row " << row << " at y " << cell.y() << ", view " << form.Table->viewport()->height()
            << " high";
    }

    QTemporaryDir Files;
    std::vector<std::string> Changed;
};

} // namespace

TEST_F(TCompareWindowTest, OpensAtTheFirstDifferenceWithTheOperatorsLastFilterChoice) {
    Online();
    const QString file = FileWithChangedForceLevels(2);
    {
        // At first the differences only: the two rows, the first of them chosen.
        TCompareConfigForm& form = Open(file);
        ASSERT_TRUE(form.isVisible());
        EXPECT_TRUE(form.FilterBox->isChecked());
        EXPECT_EQ(ShownRows(form), 2);
        const int first = Row(form, Changed[0]);
        ASSERT_GT(first, 30); // far below the first screenful
        ExpectOpenedAt(form, first, "opened");
        // The operator wants every row.
        form.FilterBox->click();
        EXPECT_EQ(ShownRows(form), form.Table->rowCount());
        ExpectOpenedAt(form, first, "every row shown");
        form.close();
    }
    QTest::qWait(0);
    {
        // Remembered: every row, scrolled down to the first difference.
        TCompareConfigForm& form = Open(file);
        EXPECT_FALSE(form.FilterBox->isChecked());
        EXPECT_EQ(ShownRows(form), form.Table->rowCount());
        ExpectOpenedAt(form, Row(form, Changed[0]), "opened again");
        form.FilterBox->click();
        form.close();
    }
    QTest::qWait(0);
    TCompareConfigForm& form = Open(file);
    EXPECT_TRUE(form.FilterBox->isChecked());
    EXPECT_EQ(ShownRows(form), 2);
}

TEST_F(TCompareWindowTest, WithoutDifferencesEveryRowShowsAndTheChoiceIsKept) {
    Online();
    {
        TCompareConfigForm& form = Open(FileWithChangedForceLevels(0));
        EXPECT_FALSE(form.FilterBox->isChecked());
        EXPECT_FALSE(form.FilterBox->isEnabled());
        EXPECT_EQ(ShownRows(form), form.Table->rowCount());
        form.close();
    }
    QTest::qWait(0);
    // The comparison without differences did not turn the choice off.
    TCompareConfigForm& form = Open(FileWithChangedForceLevels(1));
    EXPECT_TRUE(form.FilterBox->isChecked());
    EXPECT_EQ(ShownRows(form), 1);
}
