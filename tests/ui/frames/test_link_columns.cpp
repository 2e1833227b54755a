// The link layer in the frames table: the columns "Адрес", "Тип", "Ответ" and "Замечание" of a
// polled exchange against what the simulated link reports having sent (lost and late answers,
// frames sent again, damaged frames), and the filter over the link layer, which decides a frame
// only once the analysis has settled it, during a capture and in slices over a finished one.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <algorithm>

#include "tests/ui/link_session.h"
#include "tests/ui/ui_test_support.h"
#include "ui/frames/FrameTableModel.h"

namespace {

using ui::FrameTableModel;

std::string cell(const FrameTableModel& m, int row, int column) {
    return m.data(m.index(row, column)).toString().toStdString();
}

std::vector<std::uint64_t> numbers(const FrameTableModel& m) {
    std::vector<std::uint64_t> out;
    for (int r = 0; r < m.rowCount(); ++r) {
        out.push_back(m.numberAt(r));
    }
    return out;
}

osc::FrameFilter parsed(const char* text) {
    const osc::FilterParse p = osc::FrameFilter::parse(text);
    EXPECT_TRUE(p.ok()) << text;
    return p.filter;
}

TEST(LinkColumns, LostAndLateAnswersAsTheSimulatorSentThem) {
    uitest::app();
    osc::CaptureEngine engine;
    const auto sent =
        uitest::captureLink(engine, {.loss = 0.08, .bitErrors = 0, .late = 0.1}, 60'000, 7);
    FrameTableModel model(engine.frames);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setLink(&engine.link);
    const auto expected = uitest::expectedLinkCells(sent);
    ASSERT_GT(expected.size(), 400u);

    int answers = 0, noAnswer = 0, repeated = 0, matched = 0;
    for (int r = 0; r < model.rowCount(); ++r) {
        const osc::Frame* f = model.frameAt(r);
        ASSERT_NE(f, nullptr);
        const auto e = expected.find(f->start);
        if (e == expected.end()) {
            continue;  // cut by the end of the capture
        }
        ++matched;
        SCOPED_TRACE("row " + std::to_string(r) + " " + cell(model, r, FrameTableModel::Bytes));
        EXPECT_EQ(cell(model, r, FrameTableModel::Address), e->second.address);
        EXPECT_EQ(cell(model, r, FrameTableModel::Type), e->second.type);
        EXPECT_EQ(cell(model, r, FrameTableModel::Response), e->second.response);
        EXPECT_EQ(cell(model, r, FrameTableModel::Remark), e->second.remark);
        answers += e->second.response.empty() ? 0 : 1;
        noAnswer += e->second.remark.find("нет ответа") != std::string::npos ? 1 : 0;
        repeated += e->second.remark.find("повтор") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(matched, static_cast<int>(expected.size()));
    // The faults took place.
    EXPECT_GT(answers, 300);
    EXPECT_GT(noAnswer, 5);
    EXPECT_GT(repeated, 5);

    // With a bit rate the response times get their times; without the link, the columns are
    // empty.
    model.setBitRate(9600.0);
    const auto timed = uitest::expectedLinkCells(sent, 9600.0);
    for (int r = 0; r < model.rowCount(); ++r) {
        const auto e = timed.find(model.frameAt(r)->start);
        if (e != timed.end() && !e->second.response.empty()) {
            EXPECT_EQ(cell(model, r, FrameTableModel::Response), e->second.response);
            EXPECT_NE(e->second.response.find("с)"), std::string::npos) << e->second.response;
        }
    }
    model.setLink(nullptr);
    for (int r = 0; r < model.rowCount(); ++r) {
        for (int c = FrameTableModel::Address; c <= FrameTableModel::Remark; ++c) {
            ASSERT_EQ(cell(model, r, c), "");
        }
    }
}

TEST(LinkColumns, DamagedFramesHaveNoLinkFields) {
    uitest::app();
    osc::CaptureEngine engine;
    const auto sent =
        uitest::captureLink(engine, {.loss = 0, .bitErrors = 0.05, .late = 0}, 40'000, 3);
    FrameTableModel model(engine.frames);
    model.setLink(&engine.link);
    const auto expected = uitest::expectedLinkCells(sent);
    int damaged = 0, rej = 0;
    for (int r = 0; r < model.rowCount(); ++r) {
        const osc::Frame* f = model.frameAt(r);
        const auto e = expected.find(f->start);
        if (e == expected.end()) {
            continue;
        }
        SCOPED_TRACE("row " + std::to_string(r));
        EXPECT_EQ(cell(model, r, FrameTableModel::Address), e->second.address);
        EXPECT_EQ(cell(model, r, FrameTableModel::Type), e->second.type);
        if (!f->good()) {
            ++damaged;
            EXPECT_EQ(cell(model, r, FrameTableModel::Response), "");
            EXPECT_EQ(cell(model, r, FrameTableModel::Remark), "");
        }
        rej += e->second.type.rfind("REJ", 0) == 0 ? 1 : 0;
    }
    EXPECT_GT(damaged, 5);
    EXPECT_GT(rej, 2);  // the stations and the primary asked for the damaged frames again
}

// The filter over the link layer during a capture: a frame is shown once the analysis has
// settled it, never taken back, and the rows at the stop are those of the finished capture.
TEST(LinkColumns, LinkFilterDecidesSettledFramesOnly) {
    uitest::app();
    osc::CaptureEngine done;
    uitest::captureLink(done, {.loss = 0.08, .bitErrors = 0.02, .late = 0.05}, 50'000, 11);
    const char* const kFilter = "issue == no_answer || (address == 9 && rt > 10)";
    FrameTableModel finished(done.frames);
    finished.setLink(&done.link);
    finished.setExpression(parsed(kFilter));
    while (finished.filtering()) {
        finished.advance();
    }
    const std::vector<std::uint64_t> all = numbers(finished);
    ASSERT_GT(all.size(), 20u);

    osc::CaptureEngine engine;
    engine.traces = done.traces;
    engine.frames.setEnabled(true);
    engine.frames.restart();
    FrameTableModel model(engine.frames);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setLink(&engine.link);
    model.setExpression(parsed(kFilter));
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    std::size_t shownBefore = 0;
    bool trailed = false;
    for (osc::Tick t = 0; t < done.state.FTimeBase; t += 256 * 131) {
        engine.frames.follow(engine.traces, t);
        model.refresh();
        const std::vector<std::uint64_t> now = numbers(model);
        ASSERT_LE(now.size(), all.size()) << "at " << t;
        ASSERT_TRUE(std::equal(now.begin(), now.end(), all.begin())) << "at " << t;
        ASSERT_GE(now.size(), shownBefore);
        shownBefore = now.size();
        trailed = trailed || model.undecided() > 0;
    }
    engine.frames.finish(engine.traces);
    model.refresh();
    EXPECT_EQ(numbers(model), all);
    EXPECT_TRUE(trailed);
    EXPECT_EQ(removed.count(), 0);
    EXPECT_EQ(resets.count(), 0);
}

// A filter over a finished capture in slices: the rows in order of start come in slice by
// slice; sorted by another column, they come in at once when the pass is through.
TEST(LinkColumns, FilterPassInSlices) {
    uitest::app();
    osc::CaptureEngine engine;
    uitest::captureLink(engine, {.loss = 0.05, .bitErrors = 0.02, .late = 0.05}, 40'000, 5);
    FrameTableModel model(engine.frames);
    model.setLink(&engine.link);
    const osc::FrameFilter filter = parsed("type == I && ns >= 2 || error != none");
    model.setExpression(filter);  // the first slice decides everything here
    ASSERT_FALSE(model.filtering());
    const std::vector<std::uint64_t> all = numbers(model);
    ASSERT_GT(all.size(), 50u);
    // The reference: every frame's record through the filter.
    std::vector<std::uint64_t> reference;
    for (int c = 0; c < osc::kChannelCount; ++c) {
        for (std::size_t i = 0; i < engine.frames.frames(c).size(); ++i) {
            const std::uint64_t n = model.numberOf({c, i});
            if (filter.matches(model.recordOf({c, i}, n))) {
                reference.push_back(n);
            }
        }
    }
    std::sort(reference.begin(), reference.end());
    EXPECT_EQ(all, reference);

    // Over again in slices of 100 frames, in the order of start and sorted by the type.
    model.setSlice(100);
    for (const int column : {int(FrameTableModel::Number), int(FrameTableModel::Type)}) {
        SCOPED_TRACE("column " + std::to_string(column));
        model.setExpression(osc::FrameFilter{});
        model.sort(column, Qt::AscendingOrder);
        FrameTableModel sorted(engine.frames);
        sorted.setLink(&engine.link);
        sorted.sort(column, Qt::AscendingOrder);
        sorted.setExpression(filter);
        ASSERT_FALSE(sorted.filtering());

        model.setExpression(filter);
        int slices = 0;
        std::size_t shown = 0;
        while (model.filtering()) {
            model.advance();
            ++slices;
            if (column == FrameTableModel::Type && model.filtering()) {
                EXPECT_EQ(model.rowCount(), 0);  // not before the pass is through
            } else if (column == FrameTableModel::Number) {
                EXPECT_GE(static_cast<std::size_t>(model.rowCount()), shown);
                shown = static_cast<std::size_t>(model.rowCount());
            }
        }
        EXPECT_GE(slices, static_cast<int>(model.frameCount() / 100) - 1);
        EXPECT_EQ(numbers(model), numbers(sorted));
    }
    model.sort(FrameTableModel::Number, Qt::AscendingOrder);
    EXPECT_EQ(numbers(model), all);
}

}  // namespace
