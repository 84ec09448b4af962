#include "app/display.h"

#include <QApplication>
#include <QFont>

void Display::enableHighDpiScaling()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // Rounded, 150 % would become 200 % and 125 % would become 100 %.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

void Display::substituteFormFont()
{
    QFont::insertSubstitution(QStringLiteral("微软雅黑"), QStringLiteral("WenQuanYi Micro Hei"));
}
