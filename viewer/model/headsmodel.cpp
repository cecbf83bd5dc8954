#include "viewer/model/headsmodel.h"

#include <QColor>
#include <algorithm>

#include "viewer/CyrCoder.h"
#include "viewer/blacklist.h"
#include "viewer/mailstore.h"

namespace vigilo {
namespace {

QString Q(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QColor Rgb(uint32_t rgb) {
  return QColor(static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                static_cast<int>(rgb & 0xFF));
}

}  // namespace

THeadsModel::THeadsModel(tusers& settings, QObject* parent)
    : QAbstractTableModel(parent), s_(settings) {}

QString THeadsModel::Caption(int column) {
  static const char* const kCaptions[] = {"От кого", "Тема", "Размер",
                                          "Дата",    "Кому", "ID сообщения"};
  return column >= 0 && column < 6 ? QString::fromUtf8(kCaptions[column]) : QString();
}

const tmailhead* THeadsModel::Head(int record) const {
  if (conf_ < 0 || static_cast<std::size_t>(conf_) >= s_.Conf.size()) return nullptr;
  const tuser& u = s_.Conf[static_cast<std::size_t>(conf_)];
  const int count = static_cast<int>(
      std::min(u.Heads.size(), static_cast<std::size_t>(std::max(0, u.HeadCount))));
  if (record < 0 || record >= count) return nullptr;
  return &u.Heads[static_cast<std::size_t>(record)];
}

THeadsModel::Row THeadsModel::MakeRow(int record) const {
  Row row;
  const tmailhead* h = Head(record);
  if (!h) return row;
  const auto cp = static_cast<TCodePage>(IsValidCodePage(h->CodePage) ? h->CodePage : 0);
  const std::string from = ToUtf8(h->From, cp);
  row.Cells[0] = Q(from);
  row.Cells[1] = Q(ToUtf8(h->Subject, cp));
  row.Cells[2] = Q(ToValidUtf8(h->Size));
  row.Cells[3] = Q(ToUtf8(h->Date, cp));
  row.Cells[4] = Q(ToUtf8(h->To, cp));
  row.Cells[5] = Q(ToValidUtf8(h->MessageID));
  row.Blacklisted = IsBlacklisted(s_.Black, from);
  row.Downloaded = HeadFileExists(s_.Conf[static_cast<std::size_t>(conf_)], *h);
  return row;
}

void THeadsModel::SetConf(int32_t conf) {
  conf_ = conf;
  Refill();
}

void THeadsModel::Refill() {
  beginResetModel();
  rows_.clear();
  for (int r = 0; Head(r); ++r)
    rows_.push_back(MakeRow(r));
  if (current_ >= static_cast<int>(rows_.size())) current_ = rows_.empty() ? -1 : 0;
  endResetModel();
}

void THeadsModel::RefreshRecord(int record) {
  if (record < 0 || record >= static_cast<int>(rows_.size())) return;
  rows_[static_cast<std::size_t>(record)] = MakeRow(record);
  emit dataChanged(index(record, 0), index(record, 5));
}

void THeadsModel::SetCurrentRecord(int record) {
  const int old = current_;
  current_ = record;
  for (const int r : {old, record}) {
    if (r >= 0 && r < static_cast<int>(rows_.size())) emit dataChanged(index(r, 0), index(r, 5));
  }
}

void THeadsModel::SetSort(int column, bool ascending) {
  sortColumn_ = column;
  sortAscending_ = ascending;
  emit headerDataChanged(Qt::Horizontal, 0, 5);
}

bool THeadsModel::AnyBlacklisted() const {
  return std::any_of(rows_.begin(), rows_.end(), [](const Row& r) { return r.Blacklisted; });
}

int THeadsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int THeadsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 6;
}

RowState THeadsModel::StateOf(int record) const {
  const Row& row = rows_[static_cast<std::size_t>(record)];
  const tmailhead* h = Head(record);
  RowState st;
  st.Blacklisted = row.Blacklisted;
  st.Current = record == current_;
  st.Marked = h && h->Marked;
  st.DeleteNext = h && h->DeleteNext;
  st.Downloaded = row.Downloaded;
  return st;
}

QVariant THeadsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size()) || index.column() > 5)
    return {};
  const Row& row = rows_[static_cast<std::size_t>(index.row())];
  const QString& text = row.Cells[index.column()];
  const RowState st = StateOf(index.row());
  switch (role) {
    case Qt::DisplayRole:
      if (index.column() == 0 && st.DeleteNext) return QString::fromUtf8(kDeletePrefix) + text;
      return text;
    case CellTextRole:
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole:
      return text;
    case Qt::BackgroundRole:
      return Rgb(LookOfRow(st).Brush);
    case Qt::ForegroundRole:
      return Rgb(LookOfRow(st).Font);
    case BoldRole:
      return LookOfRow(st).Bold;
    case BlacklistedRole:
      return st.Blacklisted;
    case MarkedRole:
      return st.Marked;
    case DeleteNextRole:
      return st.DeleteNext;
    default:
      return {};
  }
}

QVariant THeadsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section > 5) return {};
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return Caption(section);
  if (role == SortMarkerRole && section == sortColumn_) return sortAscending_ ? 0 : 1;
  return {};
}

}  // namespace vigilo
