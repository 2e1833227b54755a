// The frames table's model against the engine's frames: the texts of a table with every kind
// of error, sorting and filtering against a plain reference table, a capture growing under a
// sorted table, and a new capture under a table that has not caught up yet.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <algorithm>
#include <random>
#include <string>

#include "core/files/frame_export.h"
#include "core/view/plot_labels.h"
#include "tests/ui/frame_lines.h"
#include "tests/ui/ui_test_support.h"
#include "ui/frames/FrameTableModel.h"

namespace {

using ui::FrameTableModel;
using uitest::Bits;
using uitest::Bytes;
using uitest::FrameLine;

QString cell(const FrameTableModel& m, int row, int column) {
    return m.data(m.index(row, column)).toString();
}

// The "№" column from top to bottom, joined by spaces.
std::string numbers(const FrameTableModel& m) {
    std::string out;
    for (int r = 0; r < m.rowCount(); ++r) {
        out += (r ? " " : "") + cell(m, r, FrameTableModel::Number).toStdString();
    }
    return out;
}

std::string bitText(std::size_t bit) {
    return osc::TicksToBitText(FrameLine::tickOf(bit));
}

struct Session {
    osc::CaptureEngine engine;
    std::size_t starts[8] = {};
    std::size_t ends[8] = {};
    Bytes secondChannel;

    // Transmit line: a good frame, then one of each error; receive line 1: one good frame that
    // starts while the first one is still on the line.
    Session() {
        FrameLine tx;
        tx.ones(10);
        starts[0] = tx.frame(uitest::stuffedBits(uitest::withX25({0x01, 0x30})));
        ends[0] = tx.bits.size();
        tx.ones(8);  // idle between frames: seven 1s or more
        starts[2] = tx.frame(uitest::stuffedBits({0x02, 0x31, 0x00, 0x00}));
        ends[2] = tx.bits.size();
        tx.ones(8);  // idle between frames: seven 1s or more
        starts[3] = tx.frame(uitest::stuffedBits({0x42}));
        ends[3] = tx.bits.size();
        tx.ones(8);  // idle between frames: seven 1s or more
        Bits loose = uitest::stuffedBits({0x11, 0x22});
        loose.insert(loose.end(), {1, 0, 1});
        starts[4] = tx.frame(loose);
        ends[4] = tx.bits.size();
        tx.ones(8);  // idle between frames: seven 1s or more
        starts[5] = tx.frame(uitest::stuffedBits({0x33}), false);
        tx.ones(12);
        starts[6] = tx.frame(uitest::stuffedBits({0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17}));
        tx.ones(8);  // idle between frames: seven 1s or more
        starts[7] = tx.frame(uitest::stuffedBits({0x44, 0x55}), false);

        FrameLine rx;
        rx.ones(30);
        secondChannel = uitest::withX25({0x05});
        starts[1] = rx.frame(uitest::stuffedBits(secondChannel));
        ends[1] = rx.bits.size();

        osc::FrameOptions o;
        o.maxLength = 6;
        uitest::captureLines(engine, {{1, tx.bits}, {2, rx.bits}}, o, 0b0110);
    }
};

TEST(FrameTableModel, EveryKindOfFrameAsTheTableShowsIt) {
    uitest::app();
    Session s;
    FrameTableModel model(s.engine.frames);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const std::vector<osc::Frame> all = s.engine.frames.byStart();
    ASSERT_EQ(all.size(), 8u);
    ASSERT_EQ(model.rowCount(), 8);
    ASSERT_EQ(model.columnCount(), 12);  // the link layer's four among them

    const std::string hex1 = osc::frameBytesHex(s.secondChannel);
    struct Row {
        const char* channel;
        std::string length, bytes, check, error;
    };
    const Row rows[8] = {
        {"Передача", "4", "01 30 1C 27", "X.25 верно", ""},
        {"Приём1", "3", hex1, "X.25 верно", ""},
        {"Передача", "4", "02 31 00 00", "X.25 неверно", "ошибка контроля"},
        {"Передача", "1", "42", "X.25 не проверен", "короткий"},
        {"Передача", "2 + 3/8", "11 22 05", "X.25 не проверен", "не кратен байту"},
        {"Передача", "", "", "X.25 не проверен", "прерван"},
        {"Передача", "6", "10 11 12 13 14 15", "X.25 не проверен", "слишком длинный"},
        {"Передача", "", "", "X.25 не проверен", "не закончен"},
    };
    for (int r = 0; r < 8; ++r) {
        const Row& e = rows[r];
        const osc::Frame& f = all[static_cast<std::size_t>(r)];
        SCOPED_TRACE("row " + std::to_string(r));
        EXPECT_EQ(cell(model, r, FrameTableModel::Number).toStdString(), std::to_string(r + 1));
        EXPECT_EQ(cell(model, r, FrameTableModel::Channel).toStdString(), e.channel);
        EXPECT_EQ(cell(model, r, FrameTableModel::Start).toStdString(), bitText(s.starts[r]));
        EXPECT_EQ(cell(model, r, FrameTableModel::End).toStdString(),
                  s.ends[r] ? bitText(s.ends[r]) : osc::TicksToBitText(f.end));
        // Where the bits after the last whole byte are not known here, the engine's frame says.
        EXPECT_EQ(cell(model, r, FrameTableModel::Length).toStdString(),
                  e.length.empty() ? FrameTableModel::lengthText(f).toStdString() : e.length);
        EXPECT_EQ(cell(model, r, FrameTableModel::Bytes).toStdString(),
                  e.bytes.empty() ? osc::frameBytesHex(f.bytes) : e.bytes);
        EXPECT_EQ(cell(model, r, FrameTableModel::Check).toStdString(), e.check);
        EXPECT_EQ(cell(model, r, FrameTableModel::Error).toStdString(), e.error);
        // Bad rows in red.
        EXPECT_EQ(model.data(model.index(r, 0), Qt::ForegroundRole).isValid(), !f.good());
    }
    EXPECT_EQ(osc::frameBytesHex(all[5].bytes).substr(0, 2), "33");
    EXPECT_EQ(osc::frameBytesHex(all[7].bytes).substr(0, 5), "44 55");

    // Sorting: ties keep the order of start, descending reverses the whole order.
    struct Sort {
        int column;
        Qt::SortOrder order;
        const char* numbers;
    };
    const Sort sorts[] = {
        {FrameTableModel::Error, Qt::AscendingOrder, "1 2 6 5 4 3 8 7"},
        {FrameTableModel::Error, Qt::DescendingOrder, "7 8 3 4 5 6 2 1"},
        {FrameTableModel::Channel, Qt::AscendingOrder, "1 3 4 5 6 7 8 2"},
        {FrameTableModel::Number, Qt::DescendingOrder, "8 7 6 5 4 3 2 1"},
        {FrameTableModel::Number, Qt::AscendingOrder, "1 2 3 4 5 6 7 8"},
    };
    for (const Sort& sort : sorts) {
        model.sort(sort.column, sort.order);
        EXPECT_EQ(numbers(model), sort.numbers) << sort.column << " " << sort.order;
    }

    struct Filter {
        int channel;
        bool onlyBad;
        const char* numbers;
    };
    const Filter filters[] = {
        {2, false, "2"}, {-1, true, "3 4 5 6 7 8"},      {1, true, "3 4 5 6 7 8"}, {2, true, ""},
        {3, false, ""},  {-1, false, "1 2 3 4 5 6 7 8"},
    };
    for (const Filter& filter : filters) {
        model.setFilter(filter.channel, filter.onlyBad);
        EXPECT_EQ(numbers(model), filter.numbers) << filter.channel << " " << filter.onlyBad;
    }

    // The CSV of the rows shown: the command-line tool's rows, with their own numbers.
    const std::string full = osc::formatFrames(all, osc::FrameListFormat::Csv);
    EXPECT_EQ(model.csv(), full);
    model.setFilter(-1, true);
    model.sort(FrameTableModel::Error, Qt::DescendingOrder);
    std::string expected = osc::frameCsvHeader();
    for (const int n : {7, 8, 3, 4, 5, 6}) {
        osc::appendFrameCsvRow(expected, static_cast<std::uint64_t>(n),
                               all[static_cast<std::size_t>(n - 1)]);
    }
    EXPECT_EQ(model.csv(), expected);

    // Finding rows back.
    for (int r = 0; r < model.rowCount(); ++r) {
        EXPECT_EQ(model.rowOf(model.refAt(r)), r);
    }
    EXPECT_EQ(model.rowOf({2, 0}), -1);  // filtered out: the good frame of channel 2
}

// Frames of three busy lines, some of them damaged.
osc::CaptureEngine& randomSession() {
    static osc::CaptureEngine engine;
    static bool made = false;
    if (made) {
        return engine;
    }
    made = true;
    std::mt19937 rng(5);
    std::vector<std::pair<int, Bits>> lines;
    for (int c = 1; c < osc::kChannelCount; ++c) {
        FrameLine l;
        for (int k = 0; k < 120; ++k) {
            l.ones(rng() % 30);
            Bytes payload(1 + rng() % 5);
            for (auto& b : payload) {
                b = static_cast<std::uint8_t>(rng());
            }
            Bits bits = uitest::stuffedBits(uitest::withX25(payload));
            if (rng() % 5 == 0) {
                bits[rng() % bits.size()] ^= 1;
            }
            l.frame(bits);
        }
        lines.push_back({c, l.bits});
    }
    uitest::captureLines(engine, lines, {}, osc::kDataChannels);
    return engine;
}

// The rows of the model against a plain reference: the frames in order of start, numbered,
// filtered, stably sorted by the column's value.
TEST(FrameTableModel, SortAndFilterAgreeWithAReferenceTable) {
    uitest::app();
    osc::CaptureEngine& engine = randomSession();
    const std::vector<osc::Frame> all = engine.frames.byStart();
    ASSERT_GT(all.size(), 300u);
    FrameTableModel model(engine.frames);
    std::mt19937 rng(9);
    for (int round = 0; round < 60; ++round) {
        const int channel = static_cast<int>(rng() % 5) - 1;
        const bool onlyBad = rng() % 2 == 0;
        const int column = static_cast<int>(rng() % FrameTableModel::ColumnCount);
        const auto order = rng() % 2 == 0 ? Qt::AscendingOrder : Qt::DescendingOrder;
        model.setFilter(channel, onlyBad);
        model.sort(column, order);

        std::vector<std::size_t> rows;
        for (std::size_t i = 0; i < all.size(); ++i) {
            if ((channel < 0 || all[i].channel == channel) && (!onlyBad || !all[i].good())) {
                rows.push_back(i);
            }
        }
        auto key = [&](std::size_t i) -> std::vector<std::int64_t> {
            const osc::Frame& f = all[i];
            switch (column) {
                case FrameTableModel::Channel:
                    return {f.channel};
                case FrameTableModel::End:
                    return {f.end};
                case FrameTableModel::Length:
                    return {f.bitCount};
                case FrameTableModel::Bytes:
                    return {f.bytes.begin(), f.bytes.end()};
                case FrameTableModel::Check:
                    return {static_cast<int>(f.check), static_cast<int>(f.status)};
                case FrameTableModel::Error:
                    return {static_cast<int>(f.error)};
                default:
                    return {};
            }
        };
        std::stable_sort(rows.begin(), rows.end(),
                         [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
        if (order == Qt::DescendingOrder) {
            std::reverse(rows.begin(), rows.end());
        }
        ASSERT_EQ(model.rowCount(), static_cast<int>(rows.size())) << "round " << round;
        for (std::size_t r = 0; r < rows.size(); ++r) {
            ASSERT_EQ(model.numberAt(static_cast<int>(r)), rows[r] + 1)
                << "round " << round << " row " << r << " column " << column;
            ASSERT_EQ(*model.frameAt(static_cast<int>(r)), all[rows[r]]);
        }
    }
}

// A capture that grows under the table: the rows follow, inserted where they belong, and equal
// a table made afresh from the same frames; a new capture under a table that has not caught up
// shows no stale frame.
TEST(FrameTableModel, FollowsAGrowingCapture) {
    uitest::app();
    osc::CaptureEngine& done = randomSession();
    for (const int column : {int(FrameTableModel::Number), int(FrameTableModel::Length)}) {
        SCOPED_TRACE("column " + std::to_string(column));
        osc::CaptureEngine engine;
        engine.traces = done.traces;  // completed: read as they stand
        engine.frames.setEnabled(true);
        engine.frames.restart();
        FrameTableModel model(engine.frames);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::Fatal);
        model.sort(column, Qt::DescendingOrder);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy renumbered(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        const osc::Tick end = done.state.FTimeBase;
        for (osc::Tick t = 0; t < end; t += 256 * 97) {
            engine.frames.follow(engine.traces, t);
            model.refresh();
            FrameTableModel fresh(engine.frames);
            fresh.sort(column, Qt::DescendingOrder);
            ASSERT_EQ(model.rowCount(), fresh.rowCount()) << "at " << t;
            for (int r = 0; r < model.rowCount(); ++r) {
                ASSERT_EQ(model.numberAt(r), fresh.numberAt(r)) << "at " << t << " row " << r;
            }
        }
        engine.frames.finish(engine.traces);
        model.refresh();
        EXPECT_EQ(model.frameCount(), done.frames.byStart().size());
        EXPECT_GT(inserts.count(), 10);
        EXPECT_EQ(resets.count(), 0);  // frames that start early renumber a few rows only
        EXPECT_GT(column == FrameTableModel::Number ? renumbered.count() : changed.count(), 0);

        // A new capture: until the table catches up its rows show nothing, then it is empty.
        engine.frames.restart();
        ASSERT_GT(model.rowCount(), 0);
        EXPECT_EQ(model.frameAt(0), nullptr);
        EXPECT_FALSE(model.data(model.index(0, FrameTableModel::Bytes)).isValid());
        model.refresh();
        EXPECT_EQ(model.rowCount(), 0);
        const int resetsBefore = static_cast<int>(resets.count());
        engine.frames.finish(engine.traces);
        model.refresh();
        EXPECT_EQ(model.frameCount(), done.frames.byStart().size());
        EXPECT_GE(resets.count(), resetsBefore);
    }
}

}  // namespace
