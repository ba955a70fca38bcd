#include "platform/qt/qt_accessibility.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QGroupBox>
#include <QLabel>

#include "platform/qt/qt_conversion.h"
#include "platform/qt/qt_widgets.h"

namespace {

constexpr char kValueFieldProperty[] = "zeltorValueField";
constexpr char kLinkProperty[] = "zeltorLink";

// A value field: Qt's own accessible of a label speaks its text as its name, and has no text to
// read once it is named. This one keeps the row's name and offers the value as its text.
class ValueFieldAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ValueFieldAccessible(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Value ? Value() : QAccessibleWidget::text(t);
    }

    // QAccessibleTextInterface, read-only: no caret, no selection.
    QString text(int start, int end) const override { return Value().mid(start, end - start); }
    int characterCount() const override { return static_cast<int>(Value().size()); }
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override
    {
        *start = 0;
        *end = characterCount();
        return {};
    }

private:
    QString Value() const { return static_cast<QLabel*>(widget())->text(); }
};

// A hyperlink: a label whose accessible is a link with the press action. Its name is its text,
// its description the tooltip (the target). It takes no focus, as the label does not.
class LinkAccessible : public QAccessibleWidget {
public:
    explicit LinkAccessible(QtStaticLabel* label) : QAccessibleWidget(label, QAccessible::Link) {}

    QString text(QAccessible::Text t) const override
    {
        const QString own = QAccessibleWidget::text(t);
        return t == QAccessible::Name && own.isEmpty() ? Label()->text() : own;
    }
    QStringList actionNames() const override { return QStringList(pressAction()) + QAccessibleWidget::actionNames(); }
    void doAction(const QString& action) override
    {
        if (action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        // Queued: the click may open a message box, whose modal loop must not hold up the answer
        // to the screen reader. Dropped if the label goes first.
        QtStaticLabel* label = Label();
        QMetaObject::invokeMethod(
            label, [label] { label->Activate(); }, Qt::QueuedConnection);
    }

private:
    QtStaticLabel* Label() const { return static_cast<QtStaticLabel*>(widget()); }
};

// Qt keeps the accessible it made for a widget while a screen reader runs; a widget whose kind
// changed gets its own at the next question.
template <typename Own>
void ForgetMadeAccessible(QWidget* widget)
{
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget);
    if (made != nullptr && dynamic_cast<Own*>(made) == nullptr)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

// The text Qt's own accessible speaks as the widget's name; empty for a field.
QString OwnText(QWidget* widget)
{
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget))
        return group->title();
    return {};
}

QAccessibleInterface* LabelFactory(const QString&, QObject* object)
{
    auto* label = qobject_cast<QLabel*>(object);
    if (label == nullptr)
        return nullptr;
    if (label->property(kValueFieldProperty).toBool())
        return new ValueFieldAccessible(label);
    if (auto* link = dynamic_cast<QtStaticLabel*>(label); link != nullptr && link->property(kLinkProperty).toBool())
        return new LinkAccessible(link);
    return nullptr;
}

void InstallLabelFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(LabelFactory);
        return true;
    }();
    (void)installed;
}

} // namespace

void SetAccessibleText(QWidget* widget, const AccessibleText& text)
{
    InstallLabelFactory();
    if (text.valueField) {
        widget->setProperty(kValueFieldProperty, true);
        // A label announces its first text when it is made, so Qt may have its own accessible.
        ForgetMadeAccessible<ValueFieldAccessible>(widget);
    }
    // A button's or a label's name is its text already, and follows it if the text changes.
    if (!text.name.empty() && (text.valueField || !text.description.empty() || ToQString(text.name) != OwnText(widget)))
        widget->setAccessibleName(ToQString(text.name));
    if (!text.description.empty())
        widget->setAccessibleDescription(ToQString(text.description));
}

void PresentAsLink(QtStaticLabel* label)
{
    InstallLabelFactory();
    label->setProperty(kLinkProperty, true);
    ForgetMadeAccessible<LinkAccessible>(label);
}

void SetLabelText(QLabel* label, const QString& text)
{
    const QString before = label->text();
    label->setText(text);
    if (before != text && label->property(kValueFieldProperty).toBool()) {
        QAccessibleTextUpdateEvent changed(label, 0, before, text);
        QAccessible::updateAccessibility(&changed);
    }
}
