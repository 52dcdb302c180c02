#pragma once

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <functional>

// Answers the modal dialogs and message boxes that the code under test opens, one
// scripted step per dialog, in order. A dialog that no step expects is recorded as
// unexpected and rejected, so a test never hangs on a box nobody answers.
class ModalAnswerer : public QObject {
public:
    using Action = std::function<void(QWidget*)>;

    // Only the newest answerer answers; an older one in an outer scope waits.
    ModalAnswerer()
        : previous(active) {
        active = this;
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, this, &ModalAnswerer::poll);
        timer.start();
    }

    // The next modal widget must inherit className; action answers it.
    ModalAnswerer& expect(const char* className, Action action) {
        steps.append({className, std::move(action)});
        return *this;
    }

    // A message box whose text contains textPart, answered with button.
    ModalAnswerer& expectBox(const QString& textPart, QMessageBox::StandardButton button = QMessageBox::Ok) {
        return expect("QMessageBox", [this, textPart, button](QWidget* w) {
            auto* box = static_cast<QMessageBox*>(w);
            if (!box->text().contains(textPart))
                problems << QStringLiteral("box \"%1\" does not contain \"%2\"").arg(box->text(), textPart);
            box->button(button) ? box->button(button)->click() : box->reject();
        });
    }

    ~ModalAnswerer() override { active = previous; }

    bool done() const { return steps.isEmpty(); }
    QString pending() const {
        QStringList names;
        for (const Step& step : steps)
            names << QString::fromLatin1(step.className);
        return QStringLiteral("still waiting for: ") + names.join(QStringLiteral(", ")) + QLatin1Char('\n') +
               problems.join(QLatin1Char('\n'));
    }
    QStringList problems;
    QStringList boxTexts; // text of every message box seen, in order

    static void clickOk(QWidget* dialog) {
        dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))
            ->button(QDialogButtonBox::Ok)
            ->click();
    }

private:
    struct Step {
        const char* className;
        Action action;
    };

    void poll() {
        if (active != this)
            return;
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible() || w->inherits("QProgressDialog"))
            return;
        for (const QPointer<QWidget>& seen : handled)
            if (seen == w)
                return;
        handled.append(w);
        if (auto* box = qobject_cast<QMessageBox*>(w))
            boxTexts << box->text();
        if (steps.isEmpty() || !w->inherits(steps.first().className)) {
            problems << QStringLiteral("unexpected %1 (%2) \"%3\"")
                            .arg(QString::fromLatin1(w->metaObject()->className()), w->windowTitle(),
                                 qobject_cast<QMessageBox*>(w) ? static_cast<QMessageBox*>(w)->text()
                                                               : QString());
            if (auto* dialog = qobject_cast<QDialog*>(w))
                dialog->reject();
            else
                w->close();
            return;
        }
        const Step step = steps.takeFirst();
        step.action(w);
    }

    static inline ModalAnswerer* active = nullptr;
    ModalAnswerer* const previous;
    QTimer timer;
    QVector<Step> steps;
    QVector<QPointer<QWidget>> handled;
};
