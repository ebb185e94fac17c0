#pragma once

#include "model/errors.h"

#include <QObject>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>

class QWidget;

class EFormSizeError : public EError {
public:
    using EError::EError;
    const char *ClassName() const override { return "EFormSizeError"; }
};

// Keeps a form where and as large as it was left: restores its placement
// from an INI file when the form has been built, saves it when the form goes.
// One per form; the INI file holds one section per form.
class TFormSize : public QObject {
    Q_OBJECT
public:
    // The owner must be a form (a window) without another TFormSize.
    explicit TFormSize(QObject *owner);
    ~TFormSize() override;

    bool SavePosition = true;
    bool SaveSize = true;
    QString SaveName = QStringLiteral(".\\FORM.INI"); // relative to the working directory
    QString SaveKey;                                  // the owning form's name

    // The size of the rectangle spanning all monitors (replaceable for tests).
    std::function<QSize()> VirtualScreen;
    // The monitors' usable areas (replaceable for tests).
    std::function<QList<QRect>()> Screens;
    // Where the form's frame goes when the INI file holds no placement for it;
    // none: where the window system puts it.
    std::function<QPoint(QSize size)> DefaultPosition;

    // Restores the placement once the form's settings are in place.
    void Loaded();
    // Writes the placement; done by itself when the form is destroyed.
    void Save();

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    QString FilePath() const;

    QWidget *m_form = nullptr;
    QRect m_bounds;        // the form's last bounds
    bool m_maximized = false;
    bool m_saved = false;
};
