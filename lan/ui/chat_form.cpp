#include "lan/ui/chat_form.h"

#include "core/ui/qtext.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "config/inifile.h"
#include "core/ui/trayicon.h"

namespace vigilo {

namespace {

constexpr int kDefaultRowHeight = 17;
constexpr char kSection[] = "SendPopup";

// A 16 x 16 picture drawn by `paint`.
QIcon Picture(const std::function<void(QPainter&)>& paint) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  paint(p);
  return QIcon(pixmap);
}

void Envelope(QPainter& p, const QColor& fill) {
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(fill);
  p.drawRect(1, 4, 13, 9);
  p.drawLine(1, 4, 8, 10);
  p.drawLine(14, 4, 8, 10);
}

void Computer(QPainter& p, const QColor& screen) {
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(screen);
  p.drawRect(2, 2, 11, 8);
  p.setBrush(Qt::lightGray);
  p.drawRect(4, 12, 7, 2);
}

}  // namespace

// --- The log as a table ---------------------------------------------------------------

ChatGridModel::ChatGridModel(const TChat& chat, const ImageList& markers, QObject* parent)
    : QAbstractTableModel(parent), chat_(chat), markers_(markers) {}

int ChatGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(chat_.Rows.size());
}

int ChatGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 4;
}

QVariant ChatGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(chat_.Rows.size())) return {};
  const ChatRow& row = chat_.Rows[index.row()];
  switch (role) {
    case Qt::DisplayRole:
      if (index.column() == 1) return Q(row.From);
      if (index.column() == 2) return Q(row.Time);
      if (index.column() == 3) return Q(row.Text);
      return {};
    case Qt::DecorationRole:
      if (index.column() != 0) return {};
      return markers_.Icon(row.Marker.empty() ? 2 : row.Marker == "0" ? 1 : 0);
    case Qt::FontRole: {
      QFont font = QApplication::font();
      font.setBold(row.Marker == "2");
      return font;
    }
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::AlignLeft | Qt::AlignTop);
    case Qt::AccessibleTextRole:
      return index.column() == 0 ? Q(row.Marker) : data(index, Qt::DisplayRole);
    default:
      return {};
  }
}

QVariant ChatGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kTitles[] = {"", "От", "Пришло", "Сообщение"};
  return section >= 0 && section < 4 ? QString::fromUtf8(kTitles[section]) : QVariant();
}

void ChatGridModel::RowChanged(int row, bool added) {
  if (added) {
    beginInsertRows({}, row, row);
    endInsertRows();
  } else {
    emit dataChanged(index(row, 0), index(row, 3));
  }
}

// --- The window -----------------------------------------------------------------------

TForm7::TForm7(Form7Options options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)) {
  if (!options_.Network) {
    ownNetwork_ = CreateSystemNeighbourhoodSource();
    options_.Network = ownNetwork_.get();
  }
  chat_ = std::make_unique<TChat>(*this, *options_.Network, options_.Port, options_.Limits);
  chat_->Sound = options_.Sound;
  chat_->SoundName = options_.SoundName;
  // Frames are handed to the window on the GUI thread; the connection's thread waits.
  chat_->LanMsgServ1.Dispatch = [this](std::function<void()> call) {
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
  };
  CreateControls();
  const std::string error = chat_->Listen();
  if (!error.empty()) {
    ListenStatus->setText(QString::fromUtf8("Сообщения по сети не принимаются: порт %1 занят "
                                            "другой программой.")
                              .arg(options_.Port));
    ListenStatus->setAccessibleName(ListenStatus->text());
    ListenStatus->show();
  }
}

TForm7::~TForm7() {
  if (isVisible()) SaveState();
  // Stop the listener before the controls its handler touches go away.
  chat_->LanMsgServ1.Stop();
}

void TForm7::CreateControls() {
  setWindowTitle(QString::fromUtf8("Отправка сообщений по сети"));
  setAccessibleName(windowTitle());
  setMinimumSize(461, 269);
  resize(720, 460);

  ImageList1.Add(Picture([](QPainter& p) { Envelope(p, Qt::white); }));
  ImageList1.Add(Picture([](QPainter& p) {
    p.setPen(QPen(QColor(0, 110, 0), 2));
    p.drawLine(2, 8, 13, 8);
    p.drawLine(9, 4, 13, 8);
    p.drawLine(9, 12, 13, 8);
  }));
  ImageList1.Add(Picture([](QPainter&) {}));
  ImageList2.Add(Picture([](QPainter& p) { Envelope(p, QColor(255, 220, 0)); }));
  ImageList2.Add(Picture([](QPainter& p) { Envelope(p, Qt::white); }));
  ImageList3.Add(Picture([](QPainter& p) { Computer(p, QColor(0, 120, 200)); }));
  ImageList3.Add(Picture([](QPainter& p) {
    Computer(p, QColor(0, 120, 200));
    p.setBrush(QColor(230, 190, 60));
    p.drawEllipse(8, 7, 7, 7);
  }));
  ImageList3.Add(Picture([](QPainter& p) {
    Computer(p, Qt::darkGray);
    p.setPen(QPen(Qt::red, 2));
    p.drawLine(3, 3, 12, 9);
  }));

  auto* outer = new QVBoxLayout(this);
  Splitter2 = new QSplitter(Qt::Vertical, this);
  Splitter1 = new QSplitter(Qt::Horizontal, Splitter2);

  TreeView1 = new QTreeWidget(Splitter1);
  TreeView1->setHeaderHidden(true);
  TreeView1->setAccessibleName(QString::fromUtf8("Компьютеры сети"));
  connect(TreeView1, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
    if (!item || item->childCount() > 0 || !item->parent()) return;
    const int group = TreeView1->indexOfTopLevelItem(item->parent());
    chat_->TreeView1Click(group, item->parent()->indexOfChild(item));
  });

  auto* editor = new QWidget(Splitter1);
  auto* editorLayout = new QVBoxLayout(editor);
  editorLayout->setContentsMargins(0, 0, 0, 0);
  auto* line = new QHBoxLayout();
  Label1 = new QLabel(QString::fromUtf8("Кому"), editor);
  host = new QComboBox(editor);
  host->setEditable(true);
  host->setInsertPolicy(QComboBox::NoInsert);
  host->setToolTip(QString::fromUtf8("Адресат"));
  host->setAccessibleName(QString::fromUtf8("Кому"));
  host->setAccessibleDescription(host->toolTip());
  host->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  Label1->setBuddy(host);
  BitBtn1 = new QPushButton(QString::fromUtf8("Отправить"), editor);
  BitBtn1->setToolTip(QString::fromUtf8("Отправить сообщение"));
  BitBtn1->setAccessibleName(BitBtn1->text());
  BitBtn1->setAccessibleDescription(BitBtn1->toolTip());
  BitBtn2 = new QPushButton(editor);
  BitBtn2->setIcon(ImageList3.Icon(1));
  BitBtn2->setToolTip(QString::fromUtf8("Поиск-проверка компьютеров в сети"));
  BitBtn2->setAccessibleName(BitBtn2->toolTip());
  pb = new QProgressBar(editor);
  pb->setRange(0, 100);
  pb->setValue(0);
  pb->setTextVisible(false);
  pb->setMaximumWidth(80);
  pb->setAccessibleName(QString::fromUtf8("Ход проверки"));
  line->addWidget(Label1);
  line->addWidget(host, 1);
  line->addWidget(BitBtn1);
  line->addWidget(BitBtn2);
  line->addWidget(pb);
  editorLayout->addLayout(line);
  msg = new QPlainTextEdit(editor);
  msg->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  msg->setAccessibleName(QString::fromUtf8("Сообщение"));
  editorLayout->addWidget(msg);
  Status = new QLabel(editor);
  Status->setTextFormat(Qt::PlainText);
  Status->hide();
  editorLayout->addWidget(Status);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({180, 520});

  grid = new QTableView(Splitter2);
  GridModel = new ChatGridModel(*chat_, ImageList1, grid);
  grid->setModel(GridModel);
  grid->setAccessibleName(QString::fromUtf8("Сообщения"));
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setShowGrid(false);
  grid->setWordWrap(false);  // long cells end in "..."; line breaks still make lines
  grid->verticalHeader()->hide();
  grid->verticalHeader()->setDefaultSectionSize(kDefaultRowHeight);
  grid->verticalHeader()->setMinimumSectionSize(kDefaultRowHeight);
  grid->setColumnWidth(0, 17);
  // Sender and time columns as wide as their texts need in bold with the desktop's font.
  QFont bold = grid->font();
  bold.setBold(true);
  const QFontMetrics metrics(bold);
  grid->setColumnWidth(1, std::max(71, metrics.horizontalAdvance("WWWWWWWWWW") + 12));
  grid->setColumnWidth(2, std::max(111, metrics.horizontalAdvance("00.00.0000 00:00:00") + 16));
  grid->horizontalHeader()->setStretchLastSection(true);
  grid->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { chat_->gridSelectCell(current.row()); });

  GridMenu = new QMenu(grid);
  N2 = GridMenu->addAction(QString::fromUtf8("Ответить отправителю"));
  N1 = GridMenu->addAction(QString::fromUtf8("Копировать письмо"));
  connect(GridMenu, &QMenu::aboutToShow, this, &TForm7::GridMenuPopup);
  connect(N2, &QAction::triggered, this, [this] { chat_->N2Click(CurrentRow()); });
  connect(N1, &QAction::triggered, this, [this] { chat_->N1Click(CurrentRow()); });
  connect(grid, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { GridMenu->popup(grid->viewport()->mapToGlobal(at)); });

  Splitter2->setStretchFactor(1, 1);
  outer->addWidget(Splitter2);
  ListenStatus = new QLabel(this);
  ListenStatus->setTextFormat(Qt::PlainText);
  ListenStatus->setStyleSheet("color: #a00000");
  ListenStatus->hide();
  outer->addWidget(ListenStatus);

  connect(BitBtn1, &QPushButton::clicked, this, [this] { chat_->Button1Click(); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { chat_->BitBtn2Click(); });

  TrayIcon1 = new TTrayIcon(this);
  TrayIcon1->SetIconList(&ImageList2);
  TrayIcon1->SetCycleInterval(300);
  TrayIcon1->SetHint("Пришла новая почта");
  TrayIcon1->OnClick = [this] { TrayIcon1Click(); };
}

void TForm7::ShowMessenger() {
  show();
  raise();
  activateWindow();
}

void TForm7::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  RestoreState();
  // The tree is built after the window appears: browsing the network takes a while.
  QTimer::singleShot(0, this, [this] { chat_->FormShow(); });
}

void TForm7::hideEvent(QHideEvent* event) {
  SaveState();
  QWidget::hideEvent(event);
}

void TForm7::RestoreState() {
  if (options_.VgIni.empty()) return;
  IniFile ini(options_.VgIni);
  if (!ini.HasSection(kSection)) return;
  const QRect g(ini.ReadInteger(kSection, "Left", x()), ini.ReadInteger(kSection, "Top", y()),
                ini.ReadInteger(kSection, "Width", width()),
                ini.ReadInteger(kSection, "Height", height()));
  resize(g.size().expandedTo(minimumSize()));
  move(g.topLeft());
  if (ini.ReadInteger(kSection, "State", 0) == 2) setWindowState(Qt::WindowMaximized);
}

void TForm7::SaveState() {
  if (options_.VgIni.empty()) return;
  IniFile ini(options_.VgIni);
  const QRect g = normalGeometry().isValid() ? normalGeometry() : geometry();
  ini.Write(kSection, "Left", std::to_string(g.x()));
  ini.Write(kSection, "Top", std::to_string(g.y()));
  ini.Write(kSection, "Width", std::to_string(g.width()));
  ini.Write(kSection, "Height", std::to_string(g.height()));
  ini.Write(kSection, "State", isMaximized() ? "2" : "0");
  if (std::string error = ini.Save(); !error.empty() && options_.LogError) options_.LogError(error);
}

int TForm7::CurrentRow() const {
  return grid->currentIndex().isValid() ? grid->currentIndex().row() : -1;
}

void TForm7::GridMenuPopup() {
  N1->setEnabled(chat_->N1Enabled(CurrentRow()));
  N2->setEnabled(chat_->N2Enabled(CurrentRow()));
}

void TForm7::TrayIcon1Click() {
  ShowMessenger();
  TrayIcon1->SetCycleIcons(false);
  TrayIcon1->Hide();
}

std::string TForm7::HostText() const {
  return S(host->currentText());
}
void TForm7::SetHostText(const std::string& text) {
  host->setEditText(Q(text));
}

void TForm7::HostItemsChanged() {
  const QString text = host->currentText();
  host->clear();
  for (const auto& item : chat_->HostItems)
    host->addItem(Q(item));
  host->setEditText(text);
}

std::string TForm7::MsgText() const {
  return S(msg->toPlainText());
}
void TForm7::SetMsgText(const std::string& text) {
  msg->setPlainText(Q(text));
}
void TForm7::FocusHost() {
  host->setFocus();
}
void TForm7::FocusMsg() {
  msg->setFocus();
}

void TForm7::ShowMessage(const std::string& text) {
  if (OnMessage) {
    OnMessage(text);
    return;
  }
  QMessageBox box(QMessageBox::Information, windowTitle(), Q(text), QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);  // a recipient's name is never markup
  box.exec();
}

void TForm7::ShowStatus(const std::string& text) {
  Status->setText(Q(text));
  Status->setAccessibleName(Status->text());
  Status->setVisible(!text.empty());
}

void TForm7::ShowTrayIcon() {
  TrayIcon1->Show();
  TrayIcon1->SetCycleIcons(true);
}

void TForm7::RowChanged(int row, bool added) {
  GridModel->RowChanged(row, added);
  FitRowHeight(row);
}

void TForm7::FitRowHeight(int row) {
  const int lines = TChat::LineCount(chat_->Rows[row].Text);
  const int height = lines > 1 ? grid->fontMetrics().height() * lines + 4 : kDefaultRowHeight;
  grid->setRowHeight(row, height);
}

void TForm7::TreeChanged() {
  TreeView1->clear();
  for (const auto& group : chat_->Tree) {
    auto* node = new QTreeWidgetItem(TreeView1, QStringList(Q(group.Name)));
    node->setIcon(0, ImageList3.Icon(kWorkgroupImage));
    for (const auto& computer : group.Computers) {
      auto* child = new QTreeWidgetItem(node, QStringList(Q(computer.Name)));
      child->setIcon(0, ImageList3.Icon(computer.Image));
    }
    node->setExpanded(true);
  }
}

void TForm7::ComputerChanged(int group, int index) {
  QTreeWidgetItem* node = TreeView1->topLevelItem(group);
  QTreeWidgetItem* child = node ? node->child(index) : nullptr;
  if (child) child->setIcon(0, ImageList3.Icon(chat_->Tree[group].Computers[index].Image));
  TreeView1->viewport()->update();
}

void TForm7::SetProgress(int position, int max) {
  pb->setMaximum(std::max(max, 1));
  pb->setValue(position);
}

void TForm7::SetBusy(bool busy) {
  if (busy)
    QApplication::setOverrideCursor(Qt::BusyCursor);
  else
    QApplication::restoreOverrideCursor();
}

}  // namespace vigilo
