#include "gui/AboutForm.h"

#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTextEdit>
#include <functional>
#include <utility>

#include "gui/Fonts.h"
#include "gui/OuterFrame.h"
#include "gui/Shell.h"
#include "platform/FileVersion.h"
#include "trace/AboutText.h"

namespace quillon {

namespace {

// A label that reports a left click, for the web link.
class TClickLabel : public QLabel {
 public:
  TClickLabel(const QString& text, QWidget* parent, std::function<void()> onClick)
      : QLabel(text, parent), onClick_(std::move(onClick)) {}

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
      onClick_();
    QLabel::mouseReleaseEvent(event);
  }

 private:
  std::function<void()> onClick_;
};

}  // namespace

TAboutFrm::TAboutFrm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("AboutFrm"));
  setWindowTitle(QStringLiteral("About"));
  setFont(WindowFont());
  setModal(true);
  new TOuterFrame(*this, DesignWidth, DesignHeight, 0, TOuterFrame::TAnchor::Centre);

  Label1 = new QLabel(this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(11, 16, 270, 17);
  Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  Label1->setWordWrap(true);

  Memo1 = new QTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(11, 48, 273, 145);
  Memo1->setReadOnly(true);
  Memo1->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  QPalette facePalette = Memo1->palette();
  facePalette.setColor(QPalette::Base, facePalette.color(QPalette::Window));
  Memo1->setPalette(facePalette);
  Memo1->setFocusPolicy(Qt::NoFocus);
  for (const char* line : LicenceNotice) {
    Memo1->append(QString::fromLatin1(line));
    Memo1->setAlignment(Qt::AlignHCenter);
  }

  auto* panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setGeometry(11, 208, 273, 41);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);

  auto* staticText = new QLabel(QStringLiteral("Check for newer versions at "), panel);
  staticText->setObjectName(QStringLiteral("StaticText1"));
  staticText->setGeometry(4, 1, 265, 17);
  staticText->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  staticText->setCursor(Qt::PointingHandCursor);

  Label2 = new TClickLabel(QString::fromLatin1(MakerWebAddress), panel, [this] { Label2Click(); });
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setGeometry(3, 16, 265, 17);
  Label2->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  Label2->setCursor(Qt::PointingHandCursor);
  QFont linkFont = font();
  linkFont.setUnderline(true);
  Label2->setFont(linkFont);
  QPalette linkPalette = Label2->palette();
  linkPalette.setColor(QPalette::WindowText, Qt::blue);
  Label2->setPalette(linkPalette);

  Button1 = new QPushButton(QStringLiteral("Ok"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(104, 264, 75, 25);
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

  FormCreate();
}

void TAboutFrm::FormCreate() {
  Label1->setText(QString::fromStdString(ProductLine(ReadFileVersion())));
}

void TAboutFrm::Button1Click() {
  accept();
}

void TAboutFrm::Label2Click() {
  OpenWebAddress(MakerWebAddress);
}

void TAboutFrm::ShowModal(QWidget* over) {
  if (over) {
    // The frame's size is known once the window exists on the screen side.
    winId();
    QRect frame = frameGeometry();
    frame.moveCenter(over->frameGeometry().center());
    move(frame.topLeft());
  }
  exec();
}

}  // namespace quillon
