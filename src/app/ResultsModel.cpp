#include "app/ResultsModel.h"

namespace corvanta {

ResultsModel::ResultsModel(std::shared_ptr<ResultsTable> table, QObject* parent)
    : QAbstractTableModel(parent), table_(std::move(table)) {
    shownRows_ = table_->rowCount();
    table_->setListener(this);
    connect(&tick_, &QTimer::timeout, this, &ResultsModel::sync);
    tick_.start(kTickMs);
}

ResultsModel::~ResultsModel() {
    table_->setListener(nullptr);
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shownRows_;
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : table_->listColumnCount();
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shownRows_)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(table_->cellText(index.row(), index.column()));
    case Qt::ToolTipRole: {
        const RowState state = table_->rowState(index.row());
        if (!state.queried || state.status == QueryStatus::Ok)
            return {};
        return QString::fromStdString(state.reason);
    }
    case Qt::TextAlignmentRole:
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromStdString(table_->columnTitle(section));
    if (role == Qt::TextAlignmentRole)
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

void ResultsModel::sync() {
    const int rows = table_->rowCount();
    if (rows > shownRows_) {
        beginInsertRows({}, shownRows_, rows - 1);
        shownRows_ = rows;
        endInsertRows();
    }
    int first = -1, last = -1;
    {
        std::lock_guard lock(changedMutex_);
        std::swap(first, changedFirst_);
        std::swap(last, changedLast_);
    }
    last = std::min(last, shownRows_ - 1);
    if (first >= 0 && first <= last)
        emit dataChanged(index(first, 0), index(last, columnCount() - 1));
}

void ResultsModel::rowsAppended(int, int) {
    // The next tick reads the new row count.
}

void ResultsModel::rowChanged(int row) {
    std::lock_guard lock(changedMutex_);
    changedFirst_ = changedFirst_ < 0 ? row : std::min(changedFirst_, row);
    changedLast_ = std::max(changedLast_, row);
}

} // namespace corvanta
