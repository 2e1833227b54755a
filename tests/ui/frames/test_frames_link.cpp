// The link layer on the tab "Кадры" in the window, over a polled exchange of the simulated
// link: the filter field (wrong input marked with the parser's Russian message, the last
// filters kept), a click on a count of "Станции" filtering the table to those frames, the jump
// from a response to its command and back, and the link options stored with the settings.
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QTest>

#include "tests/ui/link_session.h"
#include "tests/ui/ui_test_support.h"
#include "ui/frames/FrameFilterField.h"
#include "ui/frames/StationsView.h"

namespace uitest {
namespace {

using ui::FrameTableModel;

class LinkTab : public WindowTest {
  protected:
    void load() {
        sent = captureLink(frmMain->engine(), {.loss = 0.08, .bitErrors = 0.02, .late = 0.05},
                           60'000, 7);
        frames().refresh();
        ASSERT_GT(model().rowCount(), 300);
    }
    static ui::FramesPart& frames() { return frmMain->frames(); }
    static FrameTableModel& model() { return frames().model(); }
    static ui::FrameFilterField& field() { return *frames().filterField(); }
    static QString cell(int row, int column) {
        return model().data(model().index(row, column)).toString();
    }
    static int currentRow() { return frames().table()->currentIndex().row(); }
    // Rows that the filter keeps, counted over every frame's record.
    static int matching(const char* text) {
        const osc::FilterParse p = osc::FrameFilter::parse(text);
        EXPECT_TRUE(p.ok()) << text;
        int n = 0;
        for (int c = 0; c < osc::kChannelCount; ++c) {
            for (std::size_t i = 0; i < frmMain->engine().frames.frames(c).size(); ++i) {
                n += p.filter.matches(model().recordOf({c, i}, model().numberOf({c, i}))) ? 1 : 0;
            }
        }
        return n;
    }
    static void click(QTableView* table, int row, int column) {
        table->scrollTo(table->model()->index(row, column));
        const QRect r = table->visualRect(table->model()->index(row, column));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, r.center());
    }
    std::vector<osc::sim::SentFrame> sent;
};

TEST_F(LinkTab, FilterFieldMarksWrongInputAndKeepsTheLastFilters) {
    startUp();
    load();
    const int all = model().rowCount();
    QLineEdit* edit = field().lineEdit();
    const QColor normal = edit->palette().color(QPalette::Base);
    QTest::keyClicks(edit, "address == 5 && ns >");
    EXPECT_TRUE(field().wrong());
    EXPECT_EQ(field().toolTip(),
              "позиция 21: после «>» ожидалось значение, а выражение закончилось");
    EXPECT_NE(edit->palette().color(QPalette::Base), normal);
    // Enter does not apply it; the text cursor goes where the message points.
    edit->setCursorPosition(0);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(model().rowCount(), all);
    EXPECT_TRUE(model().expression().empty());
    EXPECT_EQ(edit->cursorPosition(), 20);
    EXPECT_TRUE(field().history().isEmpty());

    edit->setCursorPosition(20);
    QTest::keyClicks(edit, " 2");
    EXPECT_FALSE(field().wrong());
    EXPECT_EQ(edit->palette().color(QPalette::Base), normal);
    EXPECT_TRUE(field().toolTip().startsWith("Фильтр кадров (Ctrl+F)"));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(field().appliedText(), "address == 5 && ns > 2");
    ASSERT_EQ(model().rowCount(), matching("address == 5 && ns > 2"));
    ASSERT_GT(model().rowCount(), 10);
    for (int r = 0; r < model().rowCount(); ++r) {
        ASSERT_EQ(cell(r, FrameTableModel::Address), "5");
        ASSERT_TRUE(cell(r, FrameTableModel::Type).startsWith("I ")) << r;
    }
    EXPECT_TRUE(component<QLabel>("lblFrameCounts")
                    ->text()
                    .endsWith(QStringLiteral("показано: %1").arg(model().rowCount())));

    // The last ten filters, the latest first; one used again comes first.
    for (int n = 0; n < 11; ++n) {
        ASSERT_TRUE(frames().applyFilter(QStringLiteral("index > %1").arg(n)));
    }
    QStringList expected;
    for (int n = 10; n > 0; --n) {
        expected << QStringLiteral("index > %1").arg(n);
    }
    EXPECT_EQ(field().history(), expected);
    ASSERT_TRUE(frames().applyFilter("index > 4"));
    expected.removeAll("index > 4");
    expected.prepend("index > 4");
    EXPECT_EQ(field().history(), expected);
    QStringList items;
    for (int i = 0; i < field().count(); ++i) {
        items << field().itemText(i);
    }
    EXPECT_EQ(items, expected);
    EXPECT_EQ(field().currentText(), "index > 4");
    // An entry chosen from the list is applied.
    field().textActivated(field().itemText(3));
    EXPECT_EQ(field().appliedText(), expected[3]);
    EXPECT_EQ(model().rowCount(), matching(expected[3].toUtf8().constData()));
    // Emptying the field shows every frame again.
    edit->clear();
    EXPECT_TRUE(model().expression().empty());
    EXPECT_EQ(model().rowCount(), all);
    // Ctrl+F brings the field forward from the stations.
    frames().showStations(true);
    component<QAction>("actFrameFilter")->trigger();
    EXPECT_EQ(component<QTabWidget>("tabFrameViews")->currentIndex(), 0);
}

TEST_F(LinkTab, StationCountFiltersTheTable) {
    startUp();
    load();
    frames().showStations(true);
    ui::StationsView& view = *frames().stations();
    const std::vector<osc::StationStats> stations = view.stations().stations();
    ASSERT_EQ(stations.size(), 2u);
    EXPECT_EQ(stations[0].address, 5u);
    EXPECT_EQ(stations[1].address, 9u);
    EXPECT_EQ(view.stations().data(view.stations().index(1, ui::StationsModel::Frames)),
              QString::number(stations[1].frames));
    auto tab = [] { return component<QTabWidget>("tabFrameViews")->currentIndex(); };

    struct Click {
        int row, column;
        const char* filter;
        std::uint64_t count;
    };
    const Click clicks[] = {
        {0, ui::StationsModel::NoAnswer, "address == 5 && issue == no_answer",
         stations[0].noAnswer},
        {1, ui::StationsModel::Answers, "address == 9 && rt >= 0", stations[1].answers},
        {1, ui::StationsModel::Frames, "address == 9", stations[1].frames},
        {0, ui::StationsModel::Rej, "address == 5 && command == REJ", stations[0].rej},
        {0, ui::StationsModel::Retransmission, "address == 5 && issue == retransmission",
         stations[0].retransmission},
    };
    for (const Click& c : clicks) {
        SCOPED_TRACE(c.filter);
        ASSERT_GT(c.count, 0u);
        frames().showStations(true);
        click(view.stationsTable(), c.row, c.column);
        EXPECT_EQ(tab(), 0);  // the table
        EXPECT_EQ(field().appliedText(), c.filter);
        EXPECT_EQ(field().currentText(), c.filter);
        EXPECT_EQ(model().rowCount(), static_cast<int>(c.count));
        EXPECT_EQ(model().rowCount(), matching(c.filter));
    }
    for (int r = 0; r < model().rowCount(); ++r) {
        EXPECT_TRUE(cell(r, FrameTableModel::Remark).contains("повтор")) << r;
    }

    // The slowest answers from the 95th percentile on.
    frames().showStations(true);
    click(view.stationsTable(), 1, ui::StationsModel::ResponseP95);
    ASSERT_GE(model().rowCount(), static_cast<int>(stations[1].answers / 20));
    for (int r = 0; r < model().rowCount(); ++r) {
        const osc::FrameRecord rec = model().recordOf(model().refAt(r), model().numberAt(r));
        ASSERT_TRUE(rec.responseTime);
        EXPECT_GE(*rec.responseTime, stations[1].responseP95);
        EXPECT_EQ(rec.fields.address, 9u);
    }

    // The lines: the bad frames of "Приём1".
    frames().showStations(true);
    const osc::LineStats line = frmMain->engine().link.analyser().lines()[2];
    ASSERT_EQ(view.lines().rowCount(), 3);
    ASSERT_EQ(view.lines().channelAt(1), 2);
    ASSERT_GT(line.bad, 0u);
    click(view.linesTable(), 1, ui::LineStatsModel::Bad);
    EXPECT_EQ(field().appliedText(), "channel == rx1 && error != none");
    ASSERT_EQ(model().rowCount(), static_cast<int>(line.bad));
    for (int r = 0; r < model().rowCount(); ++r) {
        EXPECT_EQ(cell(r, FrameTableModel::Channel), "Приём1");
        EXPECT_FALSE(cell(r, FrameTableModel::Error).isEmpty());
    }
    // A count of nought filters nothing.
    const QString before = field().appliedText();
    frames().showStations(true);
    click(view.stationsTable(), 0, ui::StationsModel::Frmr);
    EXPECT_EQ(tab(), 1);
    EXPECT_EQ(field().appliedText(), before);
}

TEST_F(LinkTab, JumpFromAResponseToItsCommandAndBack) {
    startUp();
    load();
    QAction* partner = component<QAction>("actFramePartner");
    QAction* back = component<QAction>("actFrameBack");
    EXPECT_TRUE(partner->toolTip().endsWith("(F7)"));
    EXPECT_EQ(partner->shortcut(), QKeySequence(Qt::Key_F7));
    EXPECT_TRUE(back->toolTip().endsWith("(Shift+F7)"));
    // A response that answers a command, some way into the capture.
    int response = -1;
    for (int r = 100; r < model().rowCount() && response < 0; ++r) {
        if (!cell(r, FrameTableModel::Response).isEmpty()) {
            response = r;
        }
    }
    ASSERT_GE(response, 0);
    const ui::FrameRef commandRef = model().partnerOf(model().refAt(response));
    ASSERT_TRUE(commandRef.valid());
    const int command = model().rowOf(commandRef);
    ASSERT_GE(command, 0);
    EXPECT_EQ(model().data(model().index(response, FrameTableModel::Response), Qt::ToolTipRole),
              QStringLiteral("Ответ на кадр №%1 (F7 — к нему)").arg(model().numberAt(command)));

    ASSERT_TRUE(frames().chooseRow(response));
    EXPECT_EQ(partner->text(), "К запросу");
    partner->trigger();
    EXPECT_EQ(currentRow(), command);
    EXPECT_EQ(frmMain->measurement().markerX(),
              static_cast<double>(model().frameAt(command)->start));
    EXPECT_EQ(partner->text(), "К ответу");
    partner->trigger();  // and from the command to its answer
    EXPECT_EQ(currentRow(), response);
    back->trigger();
    EXPECT_EQ(currentRow(), command);
    back->trigger();
    EXPECT_EQ(currentRow(), response);
    EXPECT_FALSE(frames().back());  // nothing further back
    EXPECT_EQ(currentRow(), response);

    // A command filtered out: no jump.
    ASSERT_TRUE(frames().applyFilter("role == response"));
    ASSERT_EQ(model().rowOf(commandRef), -1);
    ASSERT_TRUE(frames().chooseRow(model().rowOf(model().partnerOf(commandRef))));
    const int at = currentRow();
    EXPECT_FALSE(frames().toPartner());
    EXPECT_EQ(currentRow(), at);
}

TEST_F(LinkTab, LinkOptionsStoredAndRestoredGarbageTolerated) {
    startUp();
    load();
    // A short answer timeout turns the late answers into missing ones.
    frames().showStations(true);
    const std::uint64_t before = frmMain->engine().link.analyser().stations()[0].noAnswer;
    component<QSpinBox>("seLinkTimeout")->setValue(20);
    frames().applyOptions();
    frames().showStations(true);
    EXPECT_GT(frames().stations()->stations().stations()[0].noAnswer, before);

    component<QCheckBox>("cbLink")->setChecked(false);
    component<QComboBox>("cmbLinkAddress")->setCurrentIndex(3);
    component<QComboBox>("cmbLinkModulo")->setCurrentIndex(1);
    component<QComboBox>("cmbLinkPrimary")->setCurrentIndex(2);
    component<QSpinBox>("seLinkTimeout")->setValue(500);
    ASSERT_TRUE(frames().applyFilter("address == 5"));
    ASSERT_TRUE(frames().applyFilter("type == I"));
    frames().applyOptions();
    // Off: the link columns hidden and empty, no stations.
    EXPECT_TRUE(frames().table()->isColumnHidden(FrameTableModel::Type));
    EXPECT_EQ(cell(0, FrameTableModel::Type), "");
    frames().showStations(true);
    EXPECT_EQ(frames().stations()->stations().rowCount(), 0);
    frmMain->close();
    const std::pair<const char*, const char*> written[] = {
        {"cbLink_Checked", "False"},
        {"cmbLinkAddress_ItemIndex", "3"},
        {"cmbLinkModulo_ItemIndex", "1"},
        {"cmbLinkPrimary_ItemIndex", "2"},
        {"seLinkTimeout_Value", "500"},
        {"cmbFrameExpr_Item1", "type == I"},
        {"cmbFrameExpr_Item2", "address == 5"},
        {"cmbFrameExpr_Item3", ""},
        {"cmbFrameExpr_Item10", ""},
    };
    for (const auto& [name, value] : written) {
        EXPECT_EQ(stored(kMainKey, "TfrmMain", name).toString(), value) << name;
    }
    ui::destroyForms();

    startUp();
    EXPECT_FALSE(frames().linkEnabled());
    const osc::LinkOptions o = frames().linkOptions();
    EXPECT_EQ(o.address, osc::AddressMode::Extended);
    EXPECT_EQ(o.modulo, 128);
    EXPECT_EQ(o.primary, 2);
    EXPECT_EQ(o.answerTimeout, 500u);
    EXPECT_EQ(field().history(), QStringList({"type == I", "address == 5"}));
    EXPECT_TRUE(field().currentText().isEmpty());  // no filter at the start
    frames().applyOptions();
    EXPECT_EQ(frmMain->engine().link.options(), o);
    EXPECT_TRUE(frames().table()->isColumnHidden(FrameTableModel::Address));
    ui::destroyForms();

    // Garbage: the defaults, blank and repeated filters left out.
    store(kMainKey, "TfrmMain",
          {{"cbLink_Checked", "maybe"},
           {"cmbLinkAddress_ItemIndex", "9"},
           {"cmbLinkModulo_ItemIndex", "-1"},
           {"cmbLinkPrimary_ItemIndex", "x"},
           {"seLinkTimeout_Value", "-5"},
           {"cmbFrameExpr_Item1", "  "},
           {"cmbFrameExpr_Item2", "address =="},
           {"cmbFrameExpr_Item3", "address == 5"},
           {"cmbFrameExpr_Item4", " address == 5 "},
           {"cmbFrameExpr_Item11", "ns == 1"}});
    startUp();
    EXPECT_TRUE(frames().linkEnabled());
    EXPECT_EQ(frames().linkOptions(), osc::LinkOptions{});
    EXPECT_EQ(field().history(), QStringList({"address ==", "address == 5"}));
    EXPECT_FALSE(frames().applyFilter("address =="));  // kept, and still wrong
    EXPECT_TRUE(field().wrong());
}

}  // namespace
}  // namespace uitest
