#pragma once
// The component base of the panel's non-visual parts: a QObject (name and owner) with a Tag.
#include <QObject>
#include <functional>

using TObject = QObject;
// Events are bound methods: the callable carries its object. An empty one is "unassigned".
using TNotifyEvent = std::function<void(TObject* Sender)>;

class TComponent : public QObject {
    Q_OBJECT
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)

public:
    explicit TComponent(QObject* owner = nullptr) : QObject(owner) {}

    QString Name() const { return objectName(); }
    void SetName(const QString& name) { setObjectName(name); }
    int Tag() const { return tag_; }
    void SetTag(int tag) { tag_ = tag; }

private:
    int tag_ = 0;
};
