
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "app/app_fixture.h"
#include "ui/ansi_text.h"
#include "ui/desktop_app.h"
#include "ui/ignore_list_view.h"
#include "ui/problem_details_view.h"
#include "ui/status_line.h"
#include "ui/ui_fixture.h"

namespace hivewise::testing {
namespace {

using ui::ProblemDetailsView;

constexpr int kRegistrySection = 5;

void Add(ResultStore& results, int sectionId, std::string location, std::string data,
         int sequence) {
    auto problem = std::make_unique<Problem>(
        sectionId, ProblemTexts{location, location, "Path", data,
                                "The file (%s) does not exist at the specified location"});
    problem->sequence = sequence;
    results.Problems().push_back(std::move(problem));
}

void ClickAt(ProblemDetailsView& view, QPoint viewportPoint) {
    QTest::mouseClick(view.List()->viewport(), Qt::LeftButton, {}, viewportPoint);
}
QPoint AddLink(const QRect& line) {
    return QPoint(line.left() + line.width() / 4, line.center().y());
}
QPoint CopyLink(const QRect& line) {
    return QPoint(line.left() + line.width() * 3 / 4, line.center().y());
}

// Three registry findings that arrived as Beta, Alpha, Gamma, and a shortcut between.
class ProblemDetailsViewTest : public UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        Add(results, kRegistrySection, "HKEY_LOCAL_MACHINE\\Beta", "C:\\b.exe", 1);
        Add(results, kRegistrySection, "HKEY_LOCAL_MACHINE\\Alpha", "C:\\a.exe", 2);
        Add(results, 14, "C:\\x.lnk", "C:\\x.exe", 3);
        Add(results, kRegistrySection, "HKEY_LOCAL_MACHINE\\Gamma", "C:\\g.exe", 4);
        actions.copyToClipboard = ui::CopyToDesktopClipboard;
        actions.ignoreProblemKey = [this](Problem& problem) { ignored.push_back(&problem); };
    }
    int Ticks(std::initializer_list<size_t> records) {
        int ticks = 0;
        for (size_t i : records)
            ticks += results.Problems()[i]->isChecked;
        return ticks;
    }
    // The key of each row as drawn: between "RegKey : " and the blank that follows it.
    static std::vector<std::string> Keys(ProblemDetailsView& view) {
        std::vector<std::string> keys;
        for (int i = 0; i < view.List()->model()->rowCount(); ++i) {
            std::string text = view.RowText(i).toStdString();
            size_t at = text.find("HKLM\\");
            keys.push_back(at == std::string::npos ? text
                                                   : text.substr(at, text.find(' ', at) - at));
        }
        return keys;
    }

    ResultStore results;
    FakePrompts prompts;
    ProblemDetailsActions actions;
    std::vector<Problem*> ignored;
};

TEST_F(ProblemDetailsViewTest, RowsTicksAndOrder) {
    results.Problems()[1]->ValueData() =
        "C:\\Program Files\\Common Files\\Some Vendor\\Shared Components\\Version 2\\alpha.exe";
    ProblemDetailsDialog logic(results, prompts, actions);
    ProblemDetailsView view(logic, kRegistrySection);
    view.show();
    EXPECT_EQ(view.windowTitle(), "Details of Problems found - Windows Fonts");
    EXPECT_EQ(view.List()->model()->headerData(0, Qt::Horizontal).toString(), "Problems Found");
    EXPECT_EQ(Keys(view), (std::vector<std::string>{"HKLM\\Beta", "HKLM\\Alpha", "HKLM\\Gamma"}));

    // Every row is as high as the tallest text measured at the column width less 30,
    // plus 40; the column is the list less 20.
    const int column = view.List()->width() - kDetailsColumnMargin;
    EXPECT_EQ(view.List()->columnWidth(0), column);
    const int height = logic.RowHeight(column, [&](const std::string& text, int width) {
        return view.MeasureRowText(text, width);
    });
    EXPECT_GT(height, view.fontMetrics().height() * 5) << "Alpha's long data wraps";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(view.List()->visualRect(view.List()->model()->index(i, 0)).height(), height);

    ClickAt(view, view.CheckBoxRect(1).center());
    EXPECT_EQ(Ticks({0, 1, 3}), 2) << "Alpha unticked";
    EXPECT_EQ(results.Problems()[1]->isChecked, 0);
    ClickAt(view, view.CheckBoxRect(1).center() + QPoint(kDetailsCheckBoxSize * 3, 0));
    EXPECT_EQ(results.Problems()[1]->isChecked, 0) << "beside the picture a click only selects";

    QTest::mouseClick(view.SelectAllButton(), Qt::LeftButton);
    EXPECT_EQ(Ticks({0, 1, 3}), 3);
    results.Problems()[2]->isChecked = 1;
    QTest::mouseClick(view.DeselectAllButton(), Qt::LeftButton);
    EXPECT_EQ(Ticks({0, 1, 3}), 0);
    EXPECT_EQ(results.Problems()[2]->isChecked, 1) << "the other section is not touched";
    ClickAt(view, view.CheckBoxRect(0).center());  // Beta ticked

    // The header toggles between key order and arrival order; ticks go with their rows.
    QHeaderView* header = view.List()->header();
    const QPoint onHeader(header->sectionViewportPosition(0) + 40, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, onHeader);
    EXPECT_EQ(Keys(view), (std::vector<std::string>{"HKLM\\Alpha", "HKLM\\Beta", "HKLM\\Gamma"}));
    ClickAt(view, view.CheckBoxRect(1).center());
    EXPECT_EQ(results.Problems()[0]->isChecked, 0) << "the second row is Beta's now";
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, onHeader);
    EXPECT_EQ(Keys(view), (std::vector<std::string>{"HKLM\\Beta", "HKLM\\Alpha", "HKLM\\Gamma"}));

    // Close keeps the ticks: they live in the records.
    ClickAt(view, view.CheckBoxRect(2).center());
    QTest::mouseClick(view.CloseButton(), Qt::LeftButton);
    EXPECT_EQ(view.result(), QDialog::Accepted);
    EXPECT_EQ(results.Problems()[3]->isChecked, 1);

    // With HIVEWISE_SCREENSHOTS naming a folder, the dialog's picture is kept there.
    view.show();
    QPixmap picture = view.grab();
    ASSERT_FALSE(picture.isNull());
    if (const char* folder = std::getenv("HIVEWISE_SCREENSHOTS")) {
        std::filesystem::create_directories(folder);
        EXPECT_TRUE(picture.save(QString(folder) + "/hivewise-details.png"));
    }
}

TEST_F(ProblemDetailsViewTest, LinksCopyTheRowAndHandOverItsFinding) {
    ProblemDetailsDialog logic(results, prompts, actions);
    ProblemDetailsView view(logic, kRegistrySection);
    view.show();
    QGuiApplication::clipboard()->setText("before");

    ClickAt(view, CopyLink(view.LinkLineRect(2)));
    EXPECT_EQ(ui::ToAnsi(QGuiApplication::clipboard()->text()),
              "RegKey : HKLM\\Gamma \r\nValueName : Path\r\nValue : C:\\g.exe\r\n"
              "The file (C:\\g.exe) does not exist at the specified location");
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].first, "Copied to Clipboard");
    EXPECT_TRUE(ignored.empty());

    ClickAt(view, AddLink(view.LinkLineRect(1)));
    ASSERT_EQ(ignored.size(), 1u);
    EXPECT_EQ(ignored[0], results.Problems()[1].get());
    ClickAt(view, view.LinkLineRect(1).topRight() + QPoint(8, 0));
    EXPECT_EQ(ignored.size(), 1u) << "beside the link line nothing happens";
    EXPECT_EQ(prompts.messages.size(), 1u);

    QWidget* viewport = view.List()->viewport();
    auto cursorAt = [&](QPoint point) {
        QMouseEvent move(QEvent::MouseMove, point, viewport->mapToGlobal(point), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
        return viewport->cursor().shape();
    };
    EXPECT_EQ(cursorAt(AddLink(view.LinkLineRect(0))), Qt::PointingHandCursor);
    EXPECT_EQ(cursorAt(view.CheckBoxRect(0).center()), Qt::ArrowCursor);
    EXPECT_EQ(cursorAt(CopyLink(view.LinkLineRect(0))), Qt::PointingHandCursor);
}

// The row height taken from the fonts' bounds is the one measuring every row gives: no
// bound is below its text's measure, and texts of one unbroken shape measure alike.
TEST_F(ProblemDetailsViewTest, BoundsNeverUnderMeasureTheRows) {
    results.Problems().clear();
    const std::string words[] = {"Program Files",
                                 "Common\\Shared",
                                 "x",
                                 "WWWWWWWWWWWWWW",
                                 "a&b<c>d",
                                 "\xe9t\xe9 \xfc",
                                 "iiiiiiiiiiiiiiiiiiiiiiiiiiii",
                                 "Very Long Vendor Name Incorporated"};
    unsigned seed = 7;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int i = 0; i < 60; ++i) {
        std::string key = "HKEY_LOCAL_MACHINE\\Software";
        std::string data = "C:\\";
        for (unsigned n = next() % 9; n > 0; --n)
            key += "\\" + words[next() % 8];
        for (unsigned n = next() % 7; n > 0; --n)
            data += words[next() % 8] + (next() % 2 ? " " : "\\");
        Add(results, kRegistrySection, key, data, i);
    }
    ProblemDetailsDialog logic(results, prompts, actions);
    ProblemDetailsView view(logic, kRegistrySection);
    auto measure = [&](const std::string& text, int width) {
        return view.MeasureRowText(text, width);
    };
    auto bound = [&](const std::string& text, int width) { return view.BoundRowText(text, width); };
    for (int column : {140, 260, 420, 700}) {
        const int width = column - kDetailsTextMargin;
        std::map<int, int> shapes;
        for (size_t row = 0; row < logic.RowCount(); ++row) {
            const std::string text = logic.RowText(row);
            const int measured = measure(text, width);
            const RichTextBound b = bound(text, width);
            EXPECT_GE(b.upper, measured) << text << " at " << width;
            if (b.unwrapped < 0) continue;
            auto [at, added] = shapes.emplace(b.unwrapped, measured);
            EXPECT_EQ(at->second, measured) << text << " at " << width;
        }
        EXPECT_EQ(logic.RowHeight(column, measure, bound), logic.RowHeight(column, measure));
    }
}

// The header sits above the rows, a row ends at the column, and right of it is no row;
// a long list scrolls to its last row, whose tick reaches its own record.
TEST_F(ProblemDetailsViewTest, HeaderAboveRowsAsWideAsTheColumn) {
    for (int i = 0; i < 3000; ++i)
        Add(results, kRegistrySection, "HKEY_LOCAL_MACHINE\\Many\\" + std::to_string(i),
            "C:\\m.exe", 10 + i);
    ProblemDetailsDialog logic(results, prompts, actions);
    ProblemDetailsView view(logic, kRegistrySection);
    view.show();
    ui::HeadedList* list = view.List();
    QHeaderView* header = list->header();
    EXPECT_TRUE(header->isVisible());
    EXPECT_EQ(header->geometry().bottom() + 1, list->viewport()->geometry().top());
    EXPECT_EQ(header->sectionSize(0), list->columnWidth(0));
    ASSERT_GT(list->viewport()->width(), list->columnWidth(0));

    ASSERT_TRUE(WaitFor([&] { return view.RowHeightFinal(); }));
    const QRect first = list->visualRect(list->model()->index(0, 0));
    EXPECT_EQ(first.width(), list->columnWidth(0));
    EXPECT_EQ(first.height(), view.CurrentRowHeight());
    EXPECT_EQ(list->indexAt(QPoint(first.right(), first.center().y())).row(), 0);
    EXPECT_FALSE(list->indexAt(QPoint(first.right() + 2, first.center().y())).isValid());

    const int last = list->model()->rowCount() - 1;
    ASSERT_EQ(last, 3002);
    list->scrollToBottom();
    ClickAt(view, view.CheckBoxRect(last).center());
    EXPECT_EQ(results.Problems().back()->isChecked, 0);
    EXPECT_EQ(results.Problems().back()->Location(), "HKLM\\Many\\2999");
}

// From the results list: the details open over the window's findings, and "Add to
// Ignore List" opens the ignore list over them at the finding's key.
TEST_F(ProblemDetailsViewTest, SortArrowMenuAndSelectableText) {
    ProblemDetailsDialog logic(results, prompts, actions);
    ProblemDetailsView view(logic, kRegistrySection);
    view.show();
    QHeaderView* header = view.List()->header();
    EXPECT_FALSE(header->isSortIndicatorShown()) << "arrival order has no arrow";
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(10, header->height() / 2));
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sortIndicatorSection(), 0);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
    // The current finding is the first of the new order, as text one can select.
    EXPECT_TRUE(view.FindingText()->toPlainText().contains("HKLM\\Alpha"));
    EXPECT_TRUE(view.FindingText()->isReadOnly());
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(10, header->height() / 2));
    EXPECT_FALSE(header->isSortIndicatorShown());

    // A registry finding: Copy and Ignore; no folder to open.
    std::unique_ptr<QMenu> menu(view.RowMenu(0));
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->actions().size(), 2);
    menu->actions().at(1)->trigger();
    ASSERT_EQ(ignored.size(), 1u);
    EXPECT_EQ(ignored[0]->Location(), "HKLM\\Beta");
    menu->actions().at(0)->trigger();
    EXPECT_EQ(prompts.messages.back().first, kCopiedToClipboardText);
    EXPECT_EQ(view.RowMenu(7), nullptr);

    // A shortcut is a file: its folder can be opened, and a failure is said.
    std::vector<std::string> opened;
    actions.openContainingFolder = [&](const std::string& file) {
        opened.push_back(file);
        return false;
    };
    ProblemDetailsDialog shortcuts(results, prompts, actions);
    ProblemDetailsView shortcutView(shortcuts, 14);
    std::unique_ptr<QMenu> fileMenu(shortcutView.RowMenu(0));
    ASSERT_EQ(fileMenu->actions().size(), 3);
    fileMenu->actions().at(2)->trigger();
    EXPECT_EQ(opened, std::vector<std::string>{"C:\\x.lnk"});
    EXPECT_TRUE(prompts.messages.back().first.find("could not be opened") != std::string::npos);
}

TEST_F(ProblemDetailsViewTest, IgnoreListOpensAtTheKeyAndClosingItThereDropsTheFinding) {
    ui::DesktopApp desktop(*machine, false);
    ResultStore& found = desktop.Logic().Results();
    Add(found, kRegistrySection,
        "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
        "C:\\Program Files\\Gone\\gone.exe", 1);
    Add(found, 14, "C:\\x.lnk", "C:\\x.exe", 2);

    int stage = 0;
    int rows = -1;
    int rowsAfter = -1;
    QString title;
    QString status;
    bool overDetails = false;
    QString current;
    QStringList keys;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (clock.elapsed() > 10000) {
            if (modal) modal->close();  // a failed step must not hang the tests
        } else if (auto* details = qobject_cast<ProblemDetailsView*>(modal)) {
            if (stage == 0) {
                stage = 1;
                rows = details->List()->model()->rowCount();
                title = details->windowTitle();
                // From a fresh event: the click opens a dialog of its own.
                QTimer::singleShot(0, details, [details] {
                    ClickAt(*details, AddLink(details->LinkLineRect(0)));
                });
            } else if (stage == 2) {
                stage = 3;
                rowsAfter = details->List()->model()->rowCount();
                if (auto* line = details->findChild<ui::StatusLine*>()) status = line->FullText();
                details->accept();
            }
        } else if (auto* ignore = qobject_cast<ui::IgnoreListView*>(modal); ignore && stage == 1) {
            stage = 2;
            overDetails = qobject_cast<ProblemDetailsView*>(ignore->parentWidget()) != nullptr;
            if (ignore->Tree()->currentItem()) current = ignore->Tree()->currentItem()->text(0);
            for (int i = 0; i < ignore->List()->topLevelItemCount(); ++i)
                keys << ignore->List()->topLevelItem(i)->text(0);
            // Escape or the close box: the preset key is kept, not dropped.
            ignore->reject();
        }
    });
    poll.start();
    desktop.Logic().ViewDetails(kRegistrySection);
    poll.stop();

    EXPECT_EQ(stage, 3);
    EXPECT_EQ(rows, 1);
    EXPECT_TRUE(overDetails);
    EXPECT_EQ(current, "Run");
    EXPECT_EQ(keys,
              QStringList{"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"});
    EXPECT_TRUE(title.startsWith("Details of Problems found - Windows Fonts - "))
        << title.toStdString();
    EXPECT_EQ(prefix.Read("drive_c/Program Files/Hivewise/Iglist.lst"),
              "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\r\r\n");
    // The ignored finding left the results and the open dialog at once; the other stays.
    EXPECT_EQ(rowsAfter, 0);
    ASSERT_EQ(found.Problems().size(), 1u);
    EXPECT_EQ(found.Problems()[0]->sectionId, 14);
    EXPECT_EQ(status, QString::fromUtf8(kIgnoreDataSaved.data(), kIgnoreDataSaved.size()));
    EXPECT_EQ(desktop.Prompts().Owner(), &desktop.View())
        << "message boxes belong to the window again";
}

}  // namespace
}  // namespace hivewise::testing
