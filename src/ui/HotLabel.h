#pragma once

#include "ui/Artwork.h"

#include <QLabel>

namespace telvox {

// A label drawn over the window's painted picture that acts as a button: an optional icon
// (one of the window pictures, see Artwork.h), its text, a light highlight under the mouse,
// and clicked() when the left button is released over it or Space or Enter is pressed on it
// (it takes the keyboard focus by Tab). `dimmed` greys it out without
// disabling it, so it still receives the click and its owner decides what the click does.
class HotLabel final : public QLabel
{
    Q_OBJECT
public:
    // `icon` names the picture (":/telvox/ui/<icon>.png"); empty for a label without one.
    explicit HotLabel(const QString &objectName, const QString &icon, QWidget *parent);
    ~HotLabel() override;

    void setDimmed(bool dimmed);
    bool isDimmed() const { return m_dimmed; }
    // Dims the label whenever `source` (the button it presses) is disabled.
    void followEnabled(QWidget *source);
    // What a click, Space or Enter does; also the "press" action of a screen reader.
    void click() { emit clicked(); }

    // Screen readers see every HotLabel as a button (HotLabelAccessible.cpp); done once, by the
    // first HotLabel made.
    static void registerAccessibility();

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Artwork m_icon;
    QWidget *m_source = nullptr;
    bool m_hover = false;
    bool m_pressed = false;
    bool m_dimmed = false;
};

} // namespace telvox
