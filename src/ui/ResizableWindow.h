#pragma once

#include <QObject>

// What a window offers to the geometry keeper: its position and size, ways
// to set them, and signals when the user changes them.
class ResizableWindow : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual int GetX() = 0;
    virtual int GetY() = 0;
    virtual int GetWidth() = 0;
    virtual int GetHeight() = 0;
    virtual void SetPosition(int x, int y) = 0;
    virtual void SetSize(int width, int height) = 0;

signals:
    void WindowResized(int width, int height);
    void WindowMoved(int x, int y);
};
