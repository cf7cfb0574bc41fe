#include "core/ResultsTable.h"

namespace corvanta {

namespace {

constexpr std::array<const char*, ResultsColumnCount> kTitles = {"序号", "关键词", "PC指数",
                                                                 "移动指数", "总指数"};
constexpr std::array<const char*, TrendColumnCount> kTrendTitles = {
    "总指数同比", "总指数环比", "PC同比", "PC环比", "移动同比", "移动环比"};

} // namespace

ResultsTable::ResultsTable(bool trendColumns) : trendColumns_(trendColumns) {}

int ResultsTable::rowCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(rows_.size());
}

int ResultsTable::listColumnCount() const {
    return trendColumns_ ? ResultsColumnCount + TrendColumnCount : ResultsColumnCount;
}

std::string ResultsTable::columnTitle(int column) const {
    if (column >= 0 && column < ResultsColumnCount)
        return kTitles[static_cast<std::size_t>(column)];
    if (trendColumns_ && column >= FirstTrendColumn && column < FirstTrendColumn + TrendColumnCount)
        return kTrendTitles[static_cast<std::size_t>(column - FirstTrendColumn)];
    return "";
}

std::string ResultsTable::cellText(int row, int column) const {
    if (column < 0 || column >= listColumnCount())
        return {};
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size()))
        return {};
    const Row& target = rows_[static_cast<std::size_t>(row)];
    if (column < ResultsColumnCount)
        return target.cells[static_cast<std::size_t>(column)];
    return target.trends ? (*target.trends)[static_cast<std::size_t>(column - FirstTrendColumn)]
                         : std::string();
}

int ResultsTable::insertRow() {
    int row = 0;
    {
        std::lock_guard lock(mutex_);
        row = static_cast<int>(rows_.size());
        rows_.emplace_back();
    }
    notifyAppended(row, 1);
    return row;
}

int ResultsTable::appendKeywords(const std::vector<std::string>& keywords) {
    int first = 0;
    {
        std::lock_guard lock(mutex_);
        first = static_cast<int>(rows_.size());
        int number = 0;
        for (const std::string& keyword : keywords) {
            Row& row = rows_.emplace_back();
            row.cells[NumberColumn] = std::to_string(++number);
            row.cells[KeywordColumn] = keyword;
        }
    }
    if (!keywords.empty())
        notifyAppended(first, static_cast<int>(keywords.size()));
    return first;
}

void ResultsTable::setCellText(int row, int column, const std::string& text) {
    if (column < 0 || column >= listColumnCount())
        return;
    {
        std::lock_guard lock(mutex_);
        if (row < 0 || row >= static_cast<int>(rows_.size()))
            return;
        Row& target = rows_[static_cast<std::size_t>(row)];
        if (column < ResultsColumnCount) {
            target.cells[static_cast<std::size_t>(column)] = text;
        } else {
            if (!target.trends)
                target.trends = std::make_unique<std::array<std::string, TrendColumnCount>>();
            (*target.trends)[static_cast<std::size_t>(column - FirstTrendColumn)] = text;
        }
    }
    notifyChanged(row);
}

void ResultsTable::setOutcome(int row, const QueryOutcome& outcome) {
    {
        std::lock_guard lock(mutex_);
        if (row < 0 || row >= static_cast<int>(rows_.size()))
            return;
        Row& target = rows_[static_cast<std::size_t>(row)];
        target.cells[PcColumn] = outcome.pc;
        target.cells[MobileColumn] = outcome.mobile;
        target.cells[OverallColumn] = outcome.overall;
        if (trendColumns_) {
            if (!target.trends)
                target.trends = std::make_unique<std::array<std::string, TrendColumnCount>>();
            *target.trends = outcome.trends;
        }
        target.state.queried = true;
        target.state.status = outcome.status;
        target.state.reason = outcome.ok() ? std::string() : outcome.reason;
    }
    notifyChanged(row);
}

RowState ResultsTable::rowState(int row) const {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size()))
        return {};
    return rows_[static_cast<std::size_t>(row)].state;
}

void ResultsTable::setListener(ResultsTableListener* listener) {
    std::lock_guard lock(listenerMutex_);
    listener_ = listener;
}

void ResultsTable::notifyAppended(int first, int count) {
    std::lock_guard lock(listenerMutex_);
    if (listener_)
        listener_->rowsAppended(first, count);
}

void ResultsTable::notifyChanged(int row) {
    std::lock_guard lock(listenerMutex_);
    if (listener_)
        listener_->rowChanged(row);
}

} // namespace corvanta
