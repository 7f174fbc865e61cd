#pragma once

#include <QFont>
#include <QGuiApplication>
#include <QRect>
#include <QSize>

// The panels keep the sizes of their original dialog templates, given in
// dialog units: a quarter of the average character width across, an eighth
// of the character height down. They are turned into pixels from a font's
// metrics, so the layout grows with the user's font and screen.

// Average character width and character height of font, in pixels, never
// below 6 x 13 (an 8-point dialog font on a 96 dpi screen).
QSize DialogBaseUnits(const QFont &font = QGuiApplication::font());

int DluToPixelsX(int dlu, const QFont &font = QGuiApplication::font());
int DluToPixelsY(int dlu, const QFont &font = QGuiApplication::font());
QSize DluToPixels(const QSize &dlu, const QFont &font = QGuiApplication::font());
QRect DluToPixels(const QRect &dlu, const QFont &font = QGuiApplication::font());
