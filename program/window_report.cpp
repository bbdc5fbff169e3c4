#include "window_report.h"

#include "thumbnail_wnd.h"

#include <QAction>
#include <QEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimer>

std::unique_ptr<WindowReport> WindowReport::FromEnvironment(QList<QWidget*> windows) {
    const QString file = qEnvironmentVariable("TOLVANE_TEST_REPORT");
    return file.isEmpty() ? nullptr : std::make_unique<WindowReport>(file, std::move(windows));
}

WindowReport::WindowReport(QString file, QList<QWidget*> windows)
    : file_(std::move(file)), windows_(std::move(windows)) {
    for (QWidget* w : windows_) w->installEventFilter(this);
    if (auto* name = windows_.front()->findChild<QLineEdit*>("outputName_1011"))
        connect(name, &QLineEdit::textChanged, this, [this] { Schedule(); });
    Schedule();
}

bool WindowReport::eventFilter(QObject*, QEvent* event) {
    switch (event->type()) {
    case QEvent::Show: case QEvent::Hide: case QEvent::Move: case QEvent::Resize:
    case QEvent::UpdateRequest: case QEvent::WindowStateChange:
        Schedule();
        break;
    default: break;
    }
    return false;
}

void WindowReport::Schedule() {
    if (pending_) return;
    pending_ = true;
    QTimer::singleShot(0, this, [this] { Write(); });
}

QString WindowReport::Line(const QString& window, const QString& name, bool visible, const QRect& r) {
    return QString("%1 %2 %3 %4 %5 %6 %7\n")
        .arg(window, name)
        .arg(int(visible))
        .arg(r.x())
        .arg(r.y())
        .arg(r.width())
        .arg(r.height());
}

QString WindowReport::Describe(QWidget* window) {
    static const QRegularExpression named("_\\d+$|^canvas$");
    const QString id = window->objectName();
    QString text = Line(id, "window", window->isVisible(), window->geometry());
    for (QWidget* w : window->findChildren<QWidget*>())
        if (named.match(w->objectName()).hasMatch())
            text += Line(id, w->objectName(), w->isVisible(), QRect(w->mapToGlobal(QPoint(0, 0)), w->size()));
    for (auto* bar : window->findChildren<QMenuBar*>())
        for (QAction* a : bar->actions())
            text += Line(id, a->objectName(), window->isVisible(),
                         bar->actionGeometry(a).translated(bar->mapToGlobal(QPoint(0, 0))));
    if (auto* thumbnails = qobject_cast<CThumbnailWnd*>(window)) {
        const QPoint origin = thumbnails->Canvas()->mapToGlobal(QPoint(0, 0));
        for (const tolvane::ThumbnailCell& c : thumbnails->Model().Page().cells)
            text += Line(id, QString("cell%1").arg(c.position), window->isVisible(),
                         QRect(c.cell.left, c.cell.top, c.cell.right - c.cell.left, c.cell.bottom - c.cell.top)
                             .translated(origin));
    }
    return text;
}

void WindowReport::Write() {
    pending_ = false;
    QString text;
    for (QWidget* w : windows_) text += Describe(w);
    if (auto* name = windows_.front()->findChild<QLineEdit*>("outputName_1011"))
        text += "text outputName_1011 " + name->text() + "\n";
    if (text == written_) return;
    QSaveFile file(file_);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(text.toUtf8());
    if (file.commit()) written_ = text;
}
