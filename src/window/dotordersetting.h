#pragma once

#include <QObject>

#include "glyphtools.h"

namespace dotmatrix {

// The dot order that the grid and the overview draw in, one setting for
// both; nothing of it is saved.
class DotOrderSetting : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    [[nodiscard]] DotOrder order() const { return order_; }
    void setBit0OnTop(bool on) { set({on, order_.firstByteLeft}); }
    void setFirstByteLeft(bool on) { set({order_.bit0OnTop, on}); }
    void set(DotOrder order)
    {
        if (order == order_)
            return;
        order_ = order;
        emit changed(order_);
    }

signals:
    void changed(dotmatrix::DotOrder order);

private:
    DotOrder order_;
};

} // namespace dotmatrix
