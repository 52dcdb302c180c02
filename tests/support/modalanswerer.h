#pragma once

// Answering the modal windows the code under test opens; driving widgets by object name.

#include <QtTest>
#include <QtWidgets>

#include <functional>

template <class T = QAbstractButton>
T* child(const QObject* parent, const char* name) {
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

inline void clickOk(QWidget* dialog) {
    child<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Ok)->click();
}

inline void setText(QWidget* parent, const char* name, const QString& text) {
    child<QLineEdit>(parent, name)->setText(text);
}

// Types text key by key, also letters that QTest::keyClicks cannot (Cyrillic and others).
inline void typeText(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClick(widget, c.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// Hands each modal window to the next expected step; an unexpected one is a problem. What a
// step leaves open is closed, so a test never hangs. Only the newest answerer answers.
class ModalAnswerer : public QObject {
public:
    using Action = std::function<void(QWidget*)>;
    struct Seen {
        QString className;
        QString title;
        QString text; // of a message box
        bool hasParent = false;
    };

    ModalAnswerer() { schedule(); }
    ~ModalAnswerer() override { active = previous; }

    // The next modal window must inherit className; action answers it (none: just close it).
    ModalAnswerer& expect(const char* className, Action action = {}) {
        steps.append({className, std::move(action)});
        return *this;
    }
    // A message box whose text contains textPart, answered with button.
    ModalAnswerer& expectBox(const QString& textPart, QMessageBox::StandardButton button = QMessageBox::Ok) {
        return expect("QMessageBox", [this, textPart, button](QWidget* w) {
            auto* box = static_cast<QMessageBox*>(w);
            if (!box->text().contains(textPart))
                problems << QStringLiteral("box \"%1\" does not contain \"%2\"").arg(box->text(), textPart);
            if (box->button(button))
                box->button(button)->click();
        });
    }

    bool done() const { return steps.isEmpty(); }
    QString report() const {
        QStringList lines = problems;
        for (const Step& step : steps)
            lines << QStringLiteral("no %1 showed").arg(QString::fromLatin1(step.className));
        return lines.join(QLatin1Char('\n'));
    }

    QVector<Seen> seen; // every modal window, in order
    QStringList problems;

private:
    void schedule() {
        QTimer::singleShot(10, this, [this] { poll(); });
    }
    struct Step {
        QByteArray className;
        Action action;
    };

    void poll() {
        schedule(); // a fresh single shot, so that polling goes on while a step runs a nested loop
        QWidget* w = QApplication::activeModalWidget();
        if (active != this || !w || !w->isVisible() || w->inherits("QProgressDialog") || handling.contains(w))
            return;
        auto* box = qobject_cast<QMessageBox*>(w);
        const Seen s{QString::fromLatin1(w->metaObject()->className()), w->windowTitle(),
                     box ? box->text() : QString(), w->parentWidget() != nullptr};
        seen << s;
        QPointer<QWidget> guard(w);
        handling << guard;
        if (!steps.isEmpty() && w->inherits(steps.first().className.constData())) {
            const Step step = steps.takeFirst();
            if (step.action)
                step.action(w);
        } else {
            problems << QStringLiteral("unexpected %1 \"%2\" %3").arg(s.className, s.title, s.text);
        }
        if (guard && guard->isVisible()) {
            if (box && box->button(QMessageBox::Ok))
                box->button(QMessageBox::Ok)->click();
            else if (auto* dialog = qobject_cast<QDialog*>(guard.data()))
                dialog->reject();
        }
        handling.removeAll(guard);
        handling.removeAll(nullptr);
    }

    static inline ModalAnswerer* active = nullptr;
    ModalAnswerer* const previous = std::exchange(active, this);
    QVector<Step> steps;
    QList<QPointer<QWidget>> handling;
};

// Waits until every expected window showed and checks that nothing else did.
#define VERIFY_ANSWERED(a)                                                                                   \
    do {                                                                                                     \
        QTRY_VERIFY2((a).done(), qPrintable((a).report()));                                                  \
        QVERIFY2((a).problems.isEmpty(), qPrintable((a).report()));                                          \
    } while (false)
