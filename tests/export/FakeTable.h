#pragma once

#include "export/ListSource.h"

#include <string>
#include <utility>
#include <vector>

namespace corvanta::test {

// An in-memory results list with the window's five columns unless told otherwise.
class FakeTable : public ListSource {
public:
    explicit FakeTable(std::vector<std::string> titles = {"序号", "关键词", "PC指数", "移动指数",
                                                          "总指数"})
        : titles_(std::move(titles)) {}

    // Appends a row; missing trailing cells stay empty.
    FakeTable& add(std::vector<std::string> cells) {
        cells.resize(titles_.size());
        rows_.push_back(std::move(cells));
        return *this;
    }
    // A list row the way the window holds it: number, keyword, PC, mobile, overall.
    FakeTable& addResult(const std::string& keyword, const std::string& pc = {},
                         const std::string& mobile = {}, const std::string& overall = {}) {
        return add({std::to_string(rows_.size() + 1), keyword, pc, mobile, overall});
    }

    int rowCount() const override { return static_cast<int>(rows_.size()); }
    int listColumnCount() const override { return static_cast<int>(titles_.size()); }
    std::string columnTitle(int column) const override {
        return column >= 0 && column < listColumnCount() ? titles_[column] : std::string();
    }
    std::string cellText(int row, int column) const override {
        if (row < 0 || row >= rowCount() || column < 0 || column >= listColumnCount())
            return {};
        return rows_[row][column];
    }

private:
    std::vector<std::string> titles_;
    std::vector<std::vector<std::string>> rows_;
};

} // namespace corvanta::test
