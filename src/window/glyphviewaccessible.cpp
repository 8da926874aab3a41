#include <algorithm>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>

#include "glyphview.h"

namespace dotmatrix {

// A glyph as a screen reader sees it: a button named by its position.
class AccessibleGlyph : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    AccessibleGlyph(GlyphView* view, std::int64_t position) : view_(view), position_(position) {}

    [[nodiscard]] bool isValid() const override { return view_ != nullptr; }
    [[nodiscard]] QObject* object() const override { return nullptr; }
    [[nodiscard]] QWindow* window() const override
    {
        return view_ != nullptr ? view_->window()->windowHandle() : nullptr;
    }
    [[nodiscard]] QAccessibleInterface* parent() const override
    {
        return QAccessible::queryAccessibleInterface(view_);
    }
    [[nodiscard]] QAccessibleInterface* child(int) const override { return nullptr; }
    [[nodiscard]] int childCount() const override { return 0; }
    [[nodiscard]] int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    [[nodiscard]] QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    [[nodiscard]] QAccessibleInterface* focusChild() const override { return nullptr; }
    [[nodiscard]] QString text(QAccessible::Text kind) const override
    {
        if (view_ == nullptr)
            return {};
        if (kind == QAccessible::Name)
            return QStringLiteral("Position %1").arg(position_);
        if (kind == QAccessible::Description)
            return view_->glyphDescription(Position(position_));
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    [[nodiscard]] QRect rect() const override
    {
        if (view_ == nullptr)
            return {};
        const QRect inView = view_->glyphRect(Position(position_));
        return QRect(view_->viewport()->mapToGlobal(inView.topLeft()), inView.size());
    }
    [[nodiscard]] QAccessible::Role role() const override { return QAccessible::Button; }
    [[nodiscard]] QAccessible::State state() const override
    {
        QAccessible::State state;
        state.focusable = true;
        state.focused = view_ != nullptr && view_->hasFocus() && view_->selected() == Position(position_);
        state.invisible = view_ == nullptr || view_->glyphRect(Position(position_)).isEmpty();
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }
    [[nodiscard]] QStringList actionNames() const override { return {pressAction()}; }
    [[nodiscard]] QStringList keyBindingsForAction(const QString& action) const override
    {
        return action == pressAction() ? QStringList{QStringLiteral("Return")} : QStringList{};
    }
    void doAction(const QString& action) override
    {
        if (view_ != nullptr && action == pressAction())
            view_->activate(Position(position_));
    }

    [[nodiscard]] std::int64_t position() const { return position_; }

private:
    QPointer<GlyphView> view_;
    std::int64_t position_;
};

// The view as a list of the glyphs it shows.
class AccessibleGlyphView : public QAccessibleWidget {
public:
    explicit AccessibleGlyphView(GlyphView* view) : QAccessibleWidget(view, QAccessible::List) {}
    ~AccessibleGlyphView() override { forget({}); }

    [[nodiscard]] GlyphView* view() const { return static_cast<GlyphView*>(widget()); }

    [[nodiscard]] int childCount() const override { return static_cast<int>(view()->glyphsInView().size()); }
    [[nodiscard]] QAccessibleInterface* child(int index) const override
    {
        const std::vector<Position> shown = view()->glyphsInView();
        if (index < 0 || index >= static_cast<int>(shown.size()))
            return nullptr;
        const std::int64_t position = shown[static_cast<std::size_t>(index)].number();
        auto found = children_.find(position);
        if (found == children_.end())
            found = children_.insert(position, QAccessible::registerAccessibleInterface(
                                                   new AccessibleGlyph(view(), position)));
        return QAccessible::accessibleInterface(found.value());
    }
    [[nodiscard]] int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (child == nullptr || child->role() != QAccessible::Button)
            return -1;
        const std::vector<Position> shown = view()->glyphsInView();
        const auto position = static_cast<const AccessibleGlyph*>(child)->position();
        const auto found = std::find(shown.begin(), shown.end(), Position(position));
        return found == shown.end() ? -1 : static_cast<int>(found - shown.begin());
    }
    [[nodiscard]] QAccessibleInterface* focusChild() const override
    {
        return view()->hasFocus() ? child(indexOfPosition(view()->selected())) : nullptr;
    }

    // Lets go of the glyphs no longer in view.
    void forget(const std::vector<Position>& kept)
    {
        for (auto it = children_.begin(); it != children_.end();) {
            if (std::find(kept.begin(), kept.end(), Position(it.key())) == kept.end()) {
                QAccessible::deleteAccessibleInterface(it.value());
                it = children_.erase(it);
            } else {
                ++it;
            }
        }
    }

private:
    [[nodiscard]] int indexOfPosition(Position position) const
    {
        const std::vector<Position> shown = view()->glyphsInView();
        const auto found = std::find(shown.begin(), shown.end(), position);
        return found == shown.end() ? -1 : static_cast<int>(found - shown.begin());
    }

    mutable QHash<std::int64_t, QAccessible::Id> children_;
};

void GlyphView::glyphsChanged()
{
    if (!QAccessible::isActive())
        return;
    if (auto* accessible = dynamic_cast<AccessibleGlyphView*>(QAccessible::queryAccessibleInterface(this)))
        accessible->forget(glyphsInView());
}

namespace {

QAccessibleInterface* glyphViewAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("dotmatrix::GlyphView") && object->isWidgetType())
        return new AccessibleGlyphView(static_cast<GlyphView*>(object));
    return nullptr;
}

} // namespace

void installGlyphViewAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(glyphViewAccessible);
        return true;
    }();
    (void)installed;
}

} // namespace dotmatrix
