#include "viewer/ui/form2.h"

#include "core/ui/qtext.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/text.h"
#include "base/utf8.h"
#include "config/inifile.h"
#include "core/ui/prbar.h"
#include "platform/errorlog.h"
#include "viewer/linkscan.h"
#include "viewer/mailstore.h"
#include "viewer/model/headsmodel.h"
#include "vigilo_version.h"

namespace vigilo {
namespace {

// Draws the model's colours and bold type; the grid's own selection colours stay off,
// the current row is the model's navy row.
class HeadDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->state &= ~QStyle::State_Selected;
    option->state &= ~QStyle::State_HasFocus;
    option->font.setBold(index.data(THeadsModel::BoldRole).toBool());
  }
};

// The picture of a code page on its menu item and on the button (ImageList images 6..9).
QIcon CodePageIcon(TCodePage cp) {
  static const char* const kLetters[] = {"W", "K", "D", "I", "U"};
  static const QColor kColours[] = {QColor(0, 0, 128), QColor(128, 0, 0), QColor(0, 100, 0),
                                    QColor(128, 0, 128), QColor(0, 100, 128)};
  const int i = static_cast<int>(cp);
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setBrush(kColours[i]);
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(0, 0, 16, 16, 3, 3);
  p.setPen(Qt::white);
  QFont f = p.font();
  f.setPixelSize(11);
  f.setBold(true);
  p.setFont(f);
  p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, kLetters[i]);
  p.end();
  return QIcon(pm);
}

void Describe(QAction* a, const char* hint) {
  a->setToolTip(QString::fromUtf8(hint));
  a->setStatusTip(QString::fromUtf8(hint));
}

}  // namespace

TForm2::TForm2(tusers& settings, ms::TmsPOPClient& pop, ViewerServices& services,
               const std::string& temp_path, std::string ini_path, QMenu* conf_menu,
               QWidget* parent)
    : QWidget(parent, Qt::Window), s_(settings), ini_(std::move(ini_path)) {
  setObjectName("Form2");
  setWindowTitle("Просмотр заголовков");
  setAccessibleName(windowTitle());
  resize(574, 348);
  setMinimumSize(469, 276);
  viewer_ = std::make_unique<TMailViewer>(settings, pop, services, *this, temp_path);
  model_ = new THeadsModel(settings, this);
  CreateControls(conf_menu);
  CreateMenus();
  // FormCreate: ShowBody is down, the sort column is "Дата" ascending.
  ShowBody->setChecked(true);
  ShowSortMarker();
}

void TForm2::ShowSortMarker() {
  model_->SetSort(viewer_->SortColumn, viewer_->SortAscending);
  sgd->horizontalHeader()->setSortIndicator(
      viewer_->SortColumn, viewer_->SortAscending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

TForm2::~TForm2() {
  HideDownloadProgress();
}

void TForm2::CreateControls(QMenu* conf_menu) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  ToolBar1 = new QToolBar(this);
  ToolBar1->setAccessibleName("Управление просмотром");
  ToolBar1->setIconSize(QSize(16, 16));
  layout->addWidget(ToolBar1);
  QStyle* st = style();
  const auto button = [this](const QIcon& icon, const char* name, const char* hint) {
    QAction* a = ToolBar1->addAction(icon, QString::fromUtf8(hint));
    a->setObjectName(name);
    Describe(a, hint);
    return a;
  };
  ToolButton8 = new QToolButton(ToolBar1);
  ToolButton8->setText("Ящик");
  ToolButton8->setToolTip("Смена почтового ящика");
  ToolButton8->setAccessibleName("Ящик");
  ToolButton8->setAccessibleDescription("Смена почтового ящика");
  ToolButton8->setToolButtonStyle(Qt::ToolButtonTextOnly);
  ToolButton8->setPopupMode(QToolButton::InstantPopup);
  if (conf_menu) ToolButton8->setMenu(conf_menu);
  ToolBar1->addWidget(ToolButton8);
  ToolBar1->addSeparator();
  BitBtn1 = button(st->standardIcon(QStyle::SP_TrashIcon), "BitBtn1", "Удалить письмо");
  BitBtn2 = button(st->standardIcon(QStyle::SP_DialogDiscardButton), "BitBtn2",
                   "Удалить письма \"черного ящика\"");
  ToolBar1->addSeparator();
  BtnView = button(st->standardIcon(QStyle::SP_FileDialogContentsView), "BtnView",
                   "Просмотр вложения .Вложенная информация может быть небезопасна !");
  btnav = button(st->standardIcon(QStyle::SP_MessageBoxWarning), "btnav",
                 "Проверка антивирусом снижает риск заражения вирусом");
  btnsav = button(st->standardIcon(QStyle::SP_DialogSaveButton), "btnsav", "Сохранить вложение");
  ToolBar1->addSeparator();
  ToolButton5 = button(st->standardIcon(QStyle::SP_DialogNoButton), "ToolButton5",
                       "Отправить адресата в черный список");
  ToolButton6 = button(st->standardIcon(QStyle::SP_FileIcon), "ToolButton6", "Печатать сообщение");
  ToolBar1->addSeparator();
  ShowBody = button(st->standardIcon(QStyle::SP_FileDialogDetailedView), "ShowBody",
                    "Показать текст письма");
  ShowAll =
      button(st->standardIcon(QStyle::SP_FileDialogListView), "ShowAll", "Показать все письмо");
  auto* group = new QActionGroup(this);
  for (QAction* a : {ShowBody, ShowAll}) {
    a->setCheckable(true);
    group->addAction(a);
  }
  ToolButton1 = new QToolButton(ToolBar1);
  ToolButton1->setText("Windows 1251");
  ToolButton1->setToolTip("Перекодировка письма");
  ToolButton1->setAccessibleName("Windows 1251");
  ToolButton1->setAccessibleDescription("Перекодировка письма");
  ToolButton1->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  ToolButton1->setPopupMode(QToolButton::MenuButtonPopup);
  ToolButton1->setIcon(CodePageIcon(TCodePage::CP1251));
  ToolBar1->addWidget(ToolButton1);
  ToolBar1->addSeparator();
  BitBtn4 =
      button(st->standardIcon(QStyle::SP_FileDialogInfoView), "BitBtn4", "Открыть черный список");
  BitBtn3 = button(st->standardIcon(QStyle::SP_DialogCloseButton), "BitBtn3", "Закрыть просмотр");

  Splitter1 = new QSplitter(Qt::Vertical, this);
  layout->addWidget(Splitter1, 1);
  sgd = new QTableView(Splitter1);
  sgd->setObjectName("sgd");
  sgd->setAccessibleName("Заголовки писем");
  sgd->setModel(model_);
  sgd->setItemDelegate(new HeadDelegate(sgd));
  sgd->setSelectionBehavior(QAbstractItemView::SelectRows);
  sgd->setSelectionMode(QAbstractItemView::SingleSelection);
  sgd->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sgd->verticalHeader()->hide();
  sgd->verticalHeader()->setDefaultSectionSize(17);
  sgd->horizontalHeader()->setSectionsClickable(true);
  sgd->horizontalHeader()->setSortIndicatorShown(true);
  sgd->horizontalHeader()->setHighlightSections(false);
  sgd->setWordWrap(false);
  sgd->setContextMenuPolicy(Qt::CustomContextMenu);
  static constexpr int kWidths[] = {182, 244, 89, 180, 330, 195};
  for (int c = 0; c < 6; ++c)
    sgd->setColumnWidth(c, kWidths[c]);
  sgd->viewport()->installEventFilter(this);

  Splitter2 = new QSplitter(Qt::Horizontal, Splitter1);
  memo1 = new QTextEdit(Splitter2);
  memo1->setObjectName("memo1");
  memo1->setAccessibleName("Текст письма");
  memo1->setReadOnly(true);
  memo1->setAcceptRichText(false);
  memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  memo1->setLineWrapMode(QTextEdit::WidgetWidth);
  memo1->setContextMenuPolicy(Qt::CustomContextMenu);
  memo1->viewport()->installEventFilter(this);
  ListFile = new QTreeWidget(Splitter2);
  ListFile->setObjectName("ListFile");
  ListFile->setAccessibleName("Вложения");
  ListFile->setRootIsDecorated(false);
  ListFile->setHeaderLabels({"Файл", "Размер"});
  ListFile->setSortingEnabled(true);
  ListFile->sortByColumn(0, Qt::AscendingOrder);
  ListFile->header()->setStretchLastSection(false);
  ListFile->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  ListFile->header()->resizeSection(1, 53);
  ListFile->setContextMenuPolicy(Qt::CustomContextMenu);
  Splitter2->addWidget(memo1);
  Splitter2->addWidget(ListFile);
  Splitter2->setStretchFactor(0, 1);
  Splitter2->setSizes({574 - 157, 157});
  Splitter1->setSizes({177, 348 - 177});

  connect(BitBtn3, &QAction::triggered, this, &QWidget::close);
  connect(BtnView, &QAction::triggered, this, &TForm2::MFileViewClick);
  connect(btnsav, &QAction::triggered, this, &TForm2::MFileViewClick);
  connect(btnav, &QAction::triggered, this, &TForm2::MFileCheckClick);
  connect(ToolButton6, &QAction::triggered, this, &TForm2::ToolButton6Click);
  connect(ShowBody, &QAction::triggered, this, [this] {
    viewer_->ShowAll = false;
    viewer_->DisplayMessage();
  });
  connect(ShowAll, &QAction::triggered, this, [this] {
    viewer_->ShowAll = true;
    viewer_->DisplayMessage();
  });
  connect(ToolButton1, &QToolButton::clicked, this, [this] { viewer_->Redetect(); });
  connect(sgd->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int c) {
    viewer_->ClickCaption(c);
    ShowSortMarker();
  });
  connect(sgd->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& now, const QModelIndex& before) {
            if (selecting_ || !now.isValid() || now.row() == before.row()) return;
            if (now.row() == viewer_->Current()) return;
            viewer_->SelectRecord(now.row());
            OpenLinkAtCaret();
          });
  connect(sgd, &QTableView::doubleClicked, this, [this] { MnLoadClick(); });
  connect(ListFile, &QTreeWidget::itemDoubleClicked, this, [this] { mFlSaveClick(); });
}

QMenu* TForm2::CodePageMenu(QWidget* parent, const QString& title) {
  auto* menu = new QMenu(title, parent);
  auto* group = new QActionGroup(menu);
  for (const TCodePage cp : kCodePageMenuOrder) {
    QAction* a = menu->addAction(CodePageIcon(cp), Q(std::string(CodePageCaption(cp))));
    a->setCheckable(true);
    a->setData(static_cast<int>(cp));
    group->addAction(a);
    connect(a, &QAction::triggered, this, [this, cp] { viewer_->SetCodePage(cp); });
  }
  connect(menu, &QMenu::aboutToShow, this, &TForm2::MainMenuPopup);
  return menu;
}

void TForm2::CreateMenus() {
  GridMenu = new QMenu(this);
  MnLoad = GridMenu->addAction("Получить сообщение");
  Describe(MnLoad, "Скачать сообщение с сервера");
  MnView = GridMenu->addAction("Просмотреть");
  MnCheck = GridMenu->addAction("Проверить");
  MnSave = GridMenu->addAction("Сохранить вложение");
  N6 = GridMenu->addAction("Исходное сообщение");
  Recode = CodePageMenu(GridMenu, "Перекодировать");
  GridMenu->addMenu(Recode);
  GridMenu->addSeparator();
  N8 = GridMenu->addAction("Отправить ответ");
  mAddAdress = GridMenu->addAction("Добавить в адресную книгу");
  adrbook = GridMenu->addAction("Адресная книга");
  GridMenu->addSeparator();
  MnBlackAdd = GridMenu->addAction("Добавить в черный список");
  MnBlack = GridMenu->addAction("Черный список");
  GridMenu->addSeparator();
  MnDelete = GridMenu->addAction("Удалить");
  connect(GridMenu, &QMenu::aboutToShow, this, &TForm2::MainMenuPopup);
  connect(MnLoad, &QAction::triggered, this, &TForm2::MnLoadClick);
  connect(MnView, &QAction::triggered, this, &TForm2::MFileViewClick);
  connect(MnCheck, &QAction::triggered, this, &TForm2::MFileCheckClick);
  connect(MnSave, &QAction::triggered, this, &TForm2::mFlSaveClick);
  connect(N6, &QAction::triggered, this, [this] {
    ShowAll->setChecked(true);
    viewer_->ShowAll = true;
    viewer_->DisplayMessage();
  });
  connect(N8, &QAction::triggered, this, [this] { viewer_->Reply(); });
  connect(mAddAdress, &QAction::triggered, this, [this] { viewer_->AddSenderToAddressBook(); });
  connect(adrbook, &QAction::triggered, this, [this] {
    if (viewer_->AddressBook) viewer_->AddressBook->ShowModal();
  });
  connect(sgd, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { GridMenu->popup(sgd->viewport()->mapToGlobal(p)); });

  PopupMenu11 = CodePageMenu(this, QString());
  ToolButton1->setMenu(PopupMenu11);

  FileMenu = new QMenu(this);
  MFileView = FileMenu->addAction("Просмотреть");
  MFileCheck = FileMenu->addAction("Проверить");
  mFlSave = FileMenu->addAction("Сохранить вложение");
  FileMenu->setDefaultAction(mFlSave);
  connect(FileMenu, &QMenu::aboutToShow, this, [this] {
    const bool any = !SelectedAttachment().empty();
    for (QAction* a : {MFileView, MFileCheck, mFlSave})
      a->setEnabled(any);
    MFileCheck->setEnabled(any && btnav->isEnabled());
  });
  connect(MFileView, &QAction::triggered, this, &TForm2::MFileViewClick);
  connect(MFileCheck, &QAction::triggered, this, &TForm2::MFileCheckClick);
  connect(mFlSave, &QAction::triggered, this, &TForm2::mFlSaveClick);
  connect(ListFile, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { FileMenu->popup(ListFile->viewport()->mapToGlobal(p)); });

  MemoMenu = new QMenu(this);
  N5 = MemoMenu->addAction("Автоперенос строк");
  N5->setCheckable(true);
  N5->setChecked(true);
  MemoMenu->addSeparator();
  MViewHTML = MemoMenu->addAction("Просмотреть как Web");
  N1 = MemoMenu->addAction("Просмотреть как текст");
  MemoMenu->addSeparator();
  N3 = MemoMenu->addAction("Копировать");
  connect(N5, &QAction::triggered, this, &TForm2::N5Click);
  connect(MViewHTML, &QAction::triggered, this,
          [this] { viewer_->ViewPaneText(S(memo1->toPlainText()), true); });
  connect(N1, &QAction::triggered, this,
          [this] { viewer_->ViewPaneText(S(memo1->toPlainText()), false); });
  connect(N3, &QAction::triggered, this, &TForm2::N3Click);
  connect(memo1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { MemoMenu->popup(memo1->viewport()->mapToGlobal(p)); });

  const auto deleteOne = [this] { viewer_->DelOneClick(); };
  connect(BitBtn1, &QAction::triggered, this, deleteOne);
  connect(MnDelete, &QAction::triggered, this, deleteOne);
  connect(BitBtn2, &QAction::triggered, this, [this] { viewer_->DelBlackClick(); });
  connect(ToolButton5, &QAction::triggered, this, [this] { viewer_->AddSenderToBlacklist(); });
  connect(MnBlackAdd, &QAction::triggered, this, [this] { viewer_->AddSenderToBlacklist(); });
  const auto blacklist = [this] {
    if (OnBlacklist) OnBlacklist();
  };
  connect(BitBtn4, &QAction::triggered, this, blacklist);
  connect(MnBlack, &QAction::triggered, this, blacklist);
}

void TForm2::MainMenuPopup() {
  const tmailhead* h = nullptr;
  const int cur = viewer_->Current();
  if (cur >= 0 && cur < viewer_->HeadCount())
    h = &viewer_->Conf().Heads[static_cast<std::size_t>(cur)];
  const bool stored = h && HeadFileExists(viewer_->Conf(), *h);
  for (QAction* a : {MnView, MnCheck, MnSave, N6})
    a->setEnabled(stored);
  MnCheck->setEnabled(stored && btnav->isEnabled());
  N8->setEnabled(h && viewer_->Compose);
  mAddAdress->setEnabled(h && viewer_->AddressBook);
  adrbook->setEnabled(viewer_->AddressBook != nullptr);
  const int cp = static_cast<int>(viewer_->CurrentCodePage());
  for (QMenu* menu : {Recode, PopupMenu11}) {
    for (QAction* a : menu->actions())
      a->setChecked(a->data().toInt() == cp);
  }
}

void TForm2::ShowConf(int32_t conf) {
  if (isVisible()) close();
  viewer_->Show(conf);
  if (viewer_->HeadCount() == 0) return;  // "Больше сообщений нет" was shown
  if (!placed_) RestorePlace();
  show();
  raise();
  activateWindow();
}

void TForm2::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
}

void TForm2::closeEvent(QCloseEvent* event) {
  viewer_->Close();
  SavePlace();
  QWidget::closeEvent(event);
}

void TForm2::RestorePlace() {
  placed_ = true;
  const IniFile ini(ini_);
  if (!ini.HasSection("ViewMess")) return;
  const int w = std::max(minimumWidth(), ini.ReadInteger("ViewMess", "Width", width()));
  const int h = std::max(minimumHeight(), ini.ReadInteger("ViewMess", "Height", height()));
  resize(w, h);
  move(ini.ReadInteger("ViewMess", "Left", x()), ini.ReadInteger("ViewMess", "Top", y()));
  const int state = ini.ReadInteger("ViewMess", "State", 0);
  if (state == 2) setWindowState(Qt::WindowMaximized);
}

void TForm2::SavePlace() {
  if (ini_.empty()) return;
  IniFile ini(ini_);
  const QRect g = normalGeometry().isValid() ? normalGeometry() : geometry();
  ini.Write("ViewMess", "Left", std::to_string(g.x()));
  ini.Write("ViewMess", "Top", std::to_string(g.y()));
  ini.Write("ViewMess", "Width", std::to_string(g.width()));
  ini.Write("ViewMess", "Height", std::to_string(g.height()));
  ini.Write("ViewMess", "State", isMaximized() ? "2" : (isMinimized() ? "1" : "0"));
  if (const std::string e = ini.Save(); !e.empty())
    AppendErrorLog(s_.ErrorLogPath(), "vg.ini", "window place not saved: " + e);
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  if (watched == sgd->viewport() && event->type() == QEvent::MouseButtonPress) {
    auto* me = static_cast<QMouseEvent*>(event);
    const QModelIndex at = sgd->indexAt(me->position().toPoint());
    if (me->button() == Qt::LeftButton && me->modifiers() == Qt::ControlModifier &&
        me->buttons() == Qt::LeftButton && at.isValid()) {
      sgd->setCurrentIndex(at);
      viewer_->ToggleMarked(at.row());
      return true;
    }
  }
  if (watched == memo1->viewport() && event->type() == QEvent::MouseButtonRelease) {
    if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      QMetaObject::invokeMethod(
          this, [this] { OpenLinkAtCaret(); }, Qt::QueuedConnection);
    }
  }
  return QWidget::eventFilter(watched, event);
}

// ---- ViewerView ----

void TForm2::SetCaption(const std::string& caption) {
  setWindowTitle(Q(caption));
  setAccessibleName(windowTitle());
}

void TForm2::HeadsReset() {
  model_->SetConf(viewer_->CurConf());
  UpdateDeleteButtons();
}

void TForm2::UpdateDeleteButtons() {
  BitBtn1->setEnabled(true);
  MnDelete->setEnabled(true);
  BitBtn2->setEnabled(model_->AnyBlacklisted());
}

void TForm2::HeadChanged(int record) {
  model_->RefreshRecord(record);
  UpdateDeleteButtons();
}

void TForm2::SetCurrentRecord(int record) {
  model_->SetCurrentRecord(record);
  selecting_ = true;
  sgd->setCurrentIndex(model_->index(record, 0));
  selecting_ = false;
}

void TForm2::SetAntivirusEnabled(bool enabled) {
  btnav->setEnabled(enabled);
}

void TForm2::ShowText(const std::string& text) {
  memo1->setPlainText(Q(text));
  QTextCursor c = memo1->textCursor();
  c.movePosition(QTextCursor::Start);
  memo1->setTextCursor(c);
}

void TForm2::ClearAttachments() {
  ListFile->clear();
}

void TForm2::AddAttachment(const std::string& name, int64_t size, const std::string& path) {
  auto* item = new QTreeWidgetItem(ListFile, {Q(name), QString::number(size)});
  item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  item->setIcon(0, QFileIconProvider().icon(QFileInfo(Q(path))));
  item->setData(0, Qt::AccessibleTextRole, Q(name));
}

void TForm2::ShowCodePage(TCodePage cp) {
  ToolButton1->setIcon(CodePageIcon(cp));
}

void TForm2::CloseWindow() {
  close();
}

void TForm2::Inform(const std::string& text) {
  if (OnInform) {
    OnInform(text);
    return;
  }
  QString t = Q(text);
  t.replace('\r', '\n');
  QMessageBox::information(this, QApplication::applicationName(), t);
}

bool TForm2::Ask(const std::string& text) {
  if (OnAsk) return OnAsk(text);
  QString t = Q(text);
  t.replace('\r', '\n');
  return QMessageBox::question(this, QApplication::applicationName(), t,
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void TForm2::ShowDownloadProgress(int max) {
  HideDownloadProgress();
  progress_ = new Tprogress();
  progress_->Bar->setRange(0, std::max(0, max));
  progress_->Bar->setValue(0);
  progress_->Label1->setText("Получено");
  progress_->Label2->clear();
  const QRect g = frameGeometry();
  progress_->move(g.left() + (g.width() - progress_->width()) / 2,
                  g.top() + (g.height() - progress_->height()) / 2);
  progress_->show();
}

void TForm2::SetDownloadProgress(int bytes, const std::string& label2) {
  if (!progress_) return;
  progress_->Bar->setValue(std::min(bytes, progress_->Bar->maximum()));
  progress_->Label2->setText(Q(label2));
}

void TForm2::HideDownloadProgress() {
  if (!progress_) return;
  Tprogress* p = progress_;
  progress_ = nullptr;
  p->hide();
  p->deleteLater();
}

// ---- commands ----

void TForm2::MnLoadClick() {
  viewer_->Download();
}

std::string TForm2::SelectedAttachment() const {
  const QTreeWidgetItem* item = ListFile->currentItem();
  return item ? S(item->text(0)) : std::string();
}

void TForm2::MFileViewClick() {
  viewer_->OpenAttachment(SelectedAttachment());
}

void TForm2::MFileCheckClick() {
  viewer_->CheckAttachment(SelectedAttachment());
}

void TForm2::mFlSaveClick() {
  const std::string name = SelectedAttachment();
  if (Trim(name).empty()) return;
  const std::string proposal = s_.ProgramFolder() + name;
  const std::string target = OnSaveDialog
                                 ? OnSaveDialog(proposal)
                                 : S(QFileDialog::getSaveFileName(this, QString(), Q(proposal)));
  if (Trim(target).empty()) return;
  const std::string error = viewer_->SaveAttachment(name, target);
  if (!error.empty()) Inform("Не удалось сохранить вложение: " + error);
}

void TForm2::N3Click() {
  const QString selected = memo1->textCursor().selectedText();
  QString text = selected.trimmed().isEmpty() ? memo1->toPlainText() : selected;
  text.replace(QChar::ParagraphSeparator, '\n');
  QApplication::clipboard()->setText(text);
}

void TForm2::N5Click() {
  const bool wrap = N5->isChecked();
  memo1->setLineWrapMode(wrap ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
}

void TForm2::OpenLinkAtCaret() {
  const QTextCursor caret = memo1->textCursor();
  const QTextBlock block = caret.block();
  const LinkAtCaret link = FindLinkAtCaret(block.text().toStdU16String(),
                                           static_cast<std::size_t>(caret.positionInBlock()));
  if (link.Text.empty()) return;
  QTextCursor mark(block);
  mark.setPosition(block.position() + static_cast<int>(link.Start));
  mark.setPosition(block.position() + static_cast<int>(link.Start + link.Text.size()),
                   QTextCursor::KeepAnchor);
  QTextCharFormat bold;
  bold.setFontWeight(QFont::Bold);
  mark.mergeCharFormat(bold);
  QTextCursor back(caret);
  back.clearSelection();
  memo1->setTextCursor(back);
  viewer_->OfferLink(S(QString::fromStdU16String(link.Text)), link.Kind == LinkKind::Web);
}

void TForm2::PrintTo(QPrinter& printer) {
  std::vector<std::string> lines;
  for (QTextBlock b = memo1->document()->begin(); b.isValid(); b = b.next())
    lines.push_back(S(b.text()));
  const QLocale locale;
  const QDateTime now = QDateTime::currentDateTime();
  const std::string stamp = S(locale.toString(now.date(), QLocale::ShortFormat) + " " +
                              locale.toString(now.time(), QLocale::LongFormat));
  QTextDocument doc;
  QTextCursor c(&doc);
  bool first = true;
  for (const PrintLine& line : viewer_->PrintLines(lines, VIGILO_VERSION ".0", stamp)) {
    if (!first) c.insertBlock();
    first = false;
    QTextCharFormat f;
    QFont font = memo1->font();
    font.setPointSize(line.Size);
    font.setBold(line.Bold);
    font.setItalic(line.Italic);
    f.setFont(font);
    c.insertText(Q(line.Text), f);
  }
  doc.print(&printer);
}

void TForm2::ToolButton6Click() {
  QPrinter printer;
  QPrintDialog dialog(&printer, this);
  if (dialog.exec() != QDialog::Accepted) return;
  PrintTo(printer);
}

}  // namespace vigilo
