#include "core/ResultsTable.h"

namespace corvanta {

namespace {

constexpr std::array<const char*, ResultsColumnCount> kTitles = {"序号", "关键词", "PC指数",
                                                                 "移动指数", "总指数"};

} // namespace

ResultsTable::ResultsTable() = default;

int ResultsTable::rowCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(rows_.size());
}

int ResultsTable::listColumnCount() const {
    return ResultsColumnCount;
}

std::string ResultsTable::columnTitle(int column) const {
    return column >= 0 && column < ResultsColumnCount ? kTitles[column] : "";
}

std::string ResultsTable::cellText(int row, int column) const {
    if (column < 0 || column >= ResultsColumnCount)
        return {};
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size()))
        return {};
    return rows_[static_cast<std::size_t>(row)].cells[column];
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
    if (column < 0 || column >= ResultsColumnCount)
        return;
    {
        std::lock_guard lock(mutex_);
        if (row < 0 || row >= static_cast<int>(rows_.size()))
            return;
        rows_[static_cast<std::size_t>(row)].cells[column] = text;
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
