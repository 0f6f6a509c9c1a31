#pragma once
// One photo of the photo list: thumbnail, file name, "EV %1" with a spin box to type the EV, the
// include check box and the EXIF summary as tool tip. A selected item is framed (style property
// imageItemSelected). Main thread only.

#include <QFrame>

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
struct photoEntry;

class imageItem : public QFrame {
    Q_OBJECT
public:
    /// `checkable`: show the include check box (a single photo or a radiance picture has none).
    imageItem(const photoEntry& photo, bool checkable, QWidget* parent = nullptr);

    int id() const { return id_; }
    QString fileName() const { return fileName_; }
    /// Shows `ev` in the label and the spin box without reporting it as an edit.
    void setEV(double ev);
    double ev() const;
    /// The include check box; true when the item has none.
    bool isChecked() const;
    void setChecked(bool on);
    bool isCheckable() const;
    void setSelected(bool on);
    bool isSelected() const { return selected_; }
    /// Marks the item when the HDR picture no longer matches its parameters.
    void setOutdated(bool on);
    bool isOutdated() const { return outdated_; }
    /// Shows `thumbnail` (after a transform, or the tone-mapped look of a radiance picture).
    void setThumbnail(const QImage& thumbnail);
    /// The picture the thumbnail label shows now.
    QImage thumbnail() const;
    /// The EV spin box can be edited (not for a radiance picture).
    void setEVEditable(bool on);
    QDoubleSpinBox* evBox() const { return evBox_; }
    QCheckBox* includeBox() const { return include_; }

signals:
    /// The user changed the EV in the spin box.
    void evEdited(int id);
    /// The user toggled the include check box (Qt::CheckState).
    void stateChanged(int id, int state);
    void clicked(int id);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void updateLabel();

    int id_ = -1;
    QString fileName_;
    QString exifText_;
    bool checkable_ = true;
    bool selected_ = false;
    bool outdated_ = false;
    QLabel* thumb_ = nullptr;
    QLabel* name_ = nullptr;
    QLabel* evLabel_ = nullptr;
    QDoubleSpinBox* evBox_ = nullptr;
    QCheckBox* include_ = nullptr;
};
