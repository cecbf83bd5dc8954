#include "compose/ui/form8.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/text.h"
#include "compose/ui/form9.h"
#include "compose/ui/placement.h"

namespace vigilo {
namespace {

QString U(const char* s) {
  return QString::fromUtf8(s);
}
QString U(const std::string& s) {
  return QString::fromStdString(s);
}

template <typename W>
W* Named(W* w, const char* name, const char* hint = nullptr) {
  w->setAccessibleName(U(name));
  if (hint) {
    w->setToolTip(U(hint));
    w->setAccessibleDescription(U(hint));
  }
  return w;
}

}  // namespace

TForm8::TForm8(tusers& settings, TForm9& book, std::string iniPath, QWidget* parent)
    : QWidget(parent, Qt::Window), s_(settings), book_(book), iniPath_(std::move(iniPath)) {
  setWindowTitle(U("Отправка сообщений по почте"));
  setMinimumSize(365, 285);
  resize(520, 420);
  Inform = [this](const QString& text) { QMessageBox::information(this, windowTitle(), text); };
  Ask = [this](const QString& text) {
    return QMessageBox::question(this, windowTitle(), text,
                                 QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
  };

  auto* grid = new QGridLayout;
  from = Named(new QComboBox(this), "От");
  grid->addWidget(new QLabel(U("От"), this), 0, 0);
  grid->addWidget(from, 0, 1, 1, 2);
  SpeedButton1 = Named(new QToolButton(this), "Кому");
  SpeedButton1->setText(U("Кому"));
  SpeedButton1->setAutoRaise(true);
  sendtoname = Named(new QLineEdit(this), "Имя адресата", "Имя адресата");
  sendtoname->setEnabled(false);
  sendto = Named(new QLineEdit(this), "E-mail адрес", "E-mail адрес");
  grid->addWidget(SpeedButton1, 1, 0);
  grid->addWidget(sendtoname, 1, 1);
  grid->addWidget(sendto, 1, 2);
  subject = Named(new QLineEdit(this), "Тема");
  grid->addWidget(new QLabel(U("Тема"), this), 2, 0);
  grid->addWidget(subject, 2, 1, 1, 2);
  BitBtn1 = Named(new QPushButton(U("Отправить"), this), "Отправить");
  grid->addWidget(BitBtn1, 0, 3, 3, 1);

  messg = Named(new QPlainTextEdit(this), "Текст сообщения");
  ListView1 = Named(new QTreeWidget(this), "Вложения");
  ListView1->setHeaderLabels({U("Файл"), U("Размер")});
  ListView1->setRootIsDecorated(false);
  ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView1->setSortingEnabled(true);
  ListView1->sortByColumn(0, Qt::AscendingOrder);
  ListView1->header()->setStretchLastSection(false);
  ListView1->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  ListView1->header()->resizeSection(1, 90);
  ListView1->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  bins = Named(new QPushButton(U("Добавить"), this), "Добавить");
  bdel = Named(new QPushButton(U("Удалить"), this), "Удалить");
  bdel->setEnabled(false);
  auto* attach = new QWidget(this);
  auto* attachRow = new QHBoxLayout(attach);
  attachRow->setContentsMargins(0, 0, 0, 0);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(bins);
  buttons->addWidget(bdel);
  buttons->addStretch();
  attachRow->addWidget(ListView1);
  attachRow->addLayout(buttons);

  Splitter1 = new QSplitter(Qt::Vertical, this);
  Splitter1->addWidget(messg);
  Splitter1->addWidget(attach);
  Splitter1->setStretchFactor(0, 3);
  Splitter1->setStretchFactor(1, 1);
  auto* top = new QVBoxLayout(this);
  top->addLayout(grid);
  top->addWidget(Splitter1, 1);

  connect(BitBtn1, &QPushButton::clicked, this, &TForm8::BitBtn1Click);
  connect(SpeedButton1, &QToolButton::clicked, this, &TForm8::SpeedButton1Click);
  connect(bins, &QPushButton::clicked, this, &TForm8::binsClick);
  connect(bdel, &QPushButton::clicked, this, &TForm8::bdelClick);
  connect(from, &QComboBox::currentIndexChanged, this, [this](int i) {
    if (i >= 0) ConfIndex = i;
  });
  LoadPlacement(*this, iniPath_, "sendmess");
}

TForm8::~TForm8() = default;

void TForm8::SendMessage(int32_t confIndex, const std::string& recipient,
                         const std::string& subjectText) {
  from->clear();
  for (const tuser& u : s_.Conf)
    from->addItem(U(Trim(u.Adress)));
  ConfIndex = confIndex;
  from->setCurrentIndex(confIndex);
  sendtoname->setText(U(ExtractDisplayName(recipient)));
  sendto->setText(U(ExtractBracketed(recipient)));
  subject->setText(U(Trim(subjectText)));
  messg->clear();
  noQuestion_ = false;
  show();
  raise();
  activateWindow();
}

void TForm8::AddAttachment(const std::string& path) {
  const QFileInfo info(U(path));
  if (!info.isFile()) return;
  auto* row = new QTreeWidgetItem;
  row->setText(0, info.absoluteFilePath());
  row->setText(1, QString::number(info.size()));
  row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  row->setIcon(0, QFileIconProvider().icon(info));
  ListView1->addTopLevelItem(row);
  UpdateDeleteButton();
}

void TForm8::binsClick() {
  const QString name = QFileDialog::getOpenFileName(this, U("Добавить"));
  if (!name.trimmed().isEmpty()) AddAttachment(name.trimmed().toStdString());
}

void TForm8::bdelClick() {
  QTreeWidgetItem* row = ListView1->currentItem();
  if (!row || !row->isSelected()) return;
  delete row;
  UpdateDeleteButton();
}

void TForm8::UpdateDeleteButton() {
  bdel->setEnabled(ListView1->topLevelItemCount() >= 1);
}

void TForm8::SpeedButton1Click() {
  if (book_.exec() != QDialog::Accepted) return;
  sendtoname->setText(U(ExtractDisplayName(book_.SelectedAddress())));
  sendto->setText(U(ExtractBracketed(book_.SelectedAddress())));
}

void TForm8::BitBtn1Click() {
  if (sending_) return;
  ComposeInput in;
  in.From = from->currentText().toStdString();
  in.ToName = sendtoname->text().toStdString();
  in.To = sendto->text().toStdString();
  in.Subject = subject->text().toStdString();
  in.Text = messg->toPlainText().toStdString();
  for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
    in.Attachments.push_back(ListView1->topLevelItem(i)->text(0).toStdString());
  bool askSubject = false;
  if (const std::string stop = CheckComposeInput(in, askSubject); !stop.empty()) {
    Inform(U(stop));
    return;
  }
  if (askSubject && !Ask(U(kEmptySubjectQuestion))) return;
  if (ConfIndex < 0 || ConfIndex >= static_cast<int32_t>(s_.Conf.size())) return;
  // Disabled for the whole attempt, including the wait for a running check.
  sending_ = true;
  BitBtn1->setEnabled(false);
  auto run = [this, in] { Send(in); };
  if (WhenIdle)
    WhenIdle(run);
  else
    run();
}

void TForm8::Send(const ComposeInput& in) {
  const tuser u = s_.Conf[static_cast<std::size_t>(ConfIndex)];
  const SendOutcome out = SendComposed(in, u, s_.delType, smtp_, mess_, Host);
  sending_ = false;
  BitBtn1->setEnabled(true);
  for (const std::string& text : out.Messages)
    Inform(U(text));
  if (!out.KeepOpen) HideWithoutQuestion();
}

void TForm8::HideWithoutQuestion() {
  noQuestion_ = true;
  hide();
}

void TForm8::closeEvent(QCloseEvent* e) {
  if (!noQuestion_ && isVisible() &&
      !Ask(U("Сообщение не отправлено\nПрекратить редактирование?"))) {
    e->ignore();
    return;
  }
  e->accept();
}

void TForm8::hideEvent(QHideEvent* e) {
  SavePlacement(*this, iniPath_, "sendmess");
  QWidget::hideEvent(e);
}

}  // namespace vigilo
