#pragma once
// An up-down control: two arrow buttons that step a whole-number position within a
// range, without wrap-around. With an associated edit box it shows its position
// there, takes the box's number as its position, and the box's Up and Down keys
// step it.
#include <QWidget>

class QLineEdit;
class QToolButton;

class UpDown : public QWidget {
    Q_OBJECT
public:
    enum Button { btNext, btPrev }; // up, down

    explicit UpDown(QWidget* parent = nullptr);

    int Min() const { return min_; }
    int Max() const { return max_; }
    int Increment() const { return increment_; }
    bool Wrap() const { return false; }
    bool ArrowKeys() const { return arrowKeys_; }
    QLineEdit* Associate() const { return associate_; }
    int Position() const { return position_; }

    void setRange(int min, int max);
    // Held within the range; an associated box shows it.
    void setPosition(int position);
    void setAssociate(QLineEdit* edit);

    // What a click on an arrow does: a step that would leave the range changes
    // nothing and signals nothing.
    void step(Button button);

    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

signals:
    // After a step, with the new position in place.
    void clicked(UpDown::Button button);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QToolButton* up_;
    QToolButton* down_;
    QLineEdit* associate_ = nullptr;
    int min_ = 0;
    int max_ = 100;
    int increment_ = 1;
    int position_ = 0;
    bool arrowKeys_ = true;
};
