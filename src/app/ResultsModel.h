#pragma once

#include "core/ResultsTable.h"

#include <QAbstractTableModel>
#include <QTimer>
#include <memory>
#include <mutex>

namespace corvanta {

// The list's view of the results table, with no copy of its rows. Workers change the table
// on their own threads; the model learns of it through the table's listener and tells the
// view on the window thread, coalesced once per tick.
class ResultsModel : public QAbstractTableModel, private ResultsTableListener {
    Q_OBJECT
public:
    static constexpr int kTickMs = 50;

    explicit ResultsModel(std::shared_ptr<ResultsTable> table, QObject* parent = nullptr);
    ~ResultsModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Brings the view up to date with the table now (the tick does it every kTickMs).
    void sync();

private:
    void rowsAppended(int first, int count) override;
    void rowChanged(int row) override;

    std::shared_ptr<ResultsTable> table_;
    int shownRows_ = 0;
    std::mutex changedMutex_;
    int changedFirst_ = -1; // rows changed since the last sync, as one range
    int changedLast_ = -1;
    QTimer tick_;
};

} // namespace corvanta
