#pragma once
// The header list of the viewer as a Qt table model (no widgets): six columns "От кого",
// "Тема", "Размер", "Дата", "Кому", "ID сообщения", one row per header record. The cell
// texts are the record's texts in Unicode, converted from its code page; the row's
// colours, bold type, the deletion prefix, the sort marker and the hints come through
// roles, so any view can draw them.

#include <QAbstractTableModel>
#include <QString>
#include <vector>

#include "config/myuser.h"
#include "viewer/rowlook.h"

namespace vigilo {

class THeadsModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Role {
    BoldRole = Qt::UserRole + 1,  // bool: the message is not downloaded yet
    BlacklistedRole,              // bool: the sender is on the blacklist
    MarkedRole,                   // bool: picked with Ctrl+click
    DeleteNextRole,               // bool: marked for deletion at the next check
    SortMarkerRole,               // header: 0 ascending, 1 descending (sort column only)
    CellTextRole,                 // the cell's text without the deletion prefix
  };

  explicit THeadsModel(tusers& settings, QObject* parent = nullptr);

  static QString Caption(int column);

  // Shows configuration conf from its records; the whole list is read again.
  void SetConf(int32_t conf);
  void Refill();
  // One record changed (page, flags, downloaded).
  void RefreshRecord(int record);
  void SetCurrentRecord(int record);
  int CurrentRecord() const { return current_; }
  void SetSort(int column, bool ascending);
  // Some row is blacklisted (the button "Удалить письма черного ящика").
  bool AnyBlacklisted() const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  struct Row {
    QString Cells[6];
    bool Blacklisted = false;
    bool Downloaded = false;
  };
  Row MakeRow(int record) const;
  const tmailhead* Head(int record) const;
  RowState StateOf(int record) const;

  tusers& s_;
  int32_t conf_ = -1;
  std::vector<Row> rows_;
  int current_ = -1;
  int sortColumn_ = 3;
  bool sortAscending_ = true;
};

}  // namespace vigilo
