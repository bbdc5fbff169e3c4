// TOLVANE_TEST_REPORT=<file> is set only by the test that drives the real
// program with xdotool (tests/program_gui/real_window_test.sh): it needs to
// know where to click. Whenever a window is shown, hidden, moved, resized or
// repainted, the file is rewritten with a line per named control, menu item
// and thumbnail cell of each window, in screen pixels:
//   <window> <name> <visible 0|1> <x> <y> <width> <height>
// and the output-name field's text as "text outputName_1011 <text>".
#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class QWidget;

class WindowReport : public QObject {
public:
    // The report the environment asks for, or none. It must go before the
    // windows it watches.
    static std::unique_ptr<WindowReport> FromEnvironment(QList<QWidget*> windows);
    WindowReport(QString file, QList<QWidget*> windows);

protected:
    bool eventFilter(QObject*, QEvent* event) override;

private:
    void Schedule();
    static QString Line(const QString& window, const QString& name, bool visible, const QRect& r);
    static QString Describe(QWidget* window);
    void Write();

    QString file_;
    QList<QWidget*> windows_;
    QString written_;
    bool pending_ = false;
};
