#pragma once

#include <QStringList>

// What the monitor prints for the program's start-up: the LED times and display_on while the
// matrix is still dark, then "Parar" multi-colour, its red X shown after the green plane and
// again after display_on. Time stamps are left out.
[[nodiscard]] inline QStringList startupLog()
{
    const QStringList dark(8, QStringLiteral(". . . . . . . ."));
    const QStringList redX{"R R . . . . R R", "R R R . . R R R", ". R R R R R R .", ". . R R R R . .",
                           ". . R R R R . .", ". R R R R R R .", "R R R . . R R R", "R R . . . . R R"};
    return QStringList{"A5 79 5A 75 E7  set_redled_time 25", "A5 79 5A 76 51  set_greenled_time 175",
                       "A5 79 5A 71  display_on"}
           + dark
           + QStringList{"A5 79 5A 75 E7  set_redled_time 25", "A5 79 5A 76 51  set_greenled_time 175",
                         "A5 79 5A 73 C3 E7 7E 3C 3C 7E E7 C3  red plane",
                         "A5 79 5A 74 00 00 00 00 00 00 00 00  green plane"}
           + redX + QStringList{"A5 79 5A 7B 04  set_sign_code 4", "A5 79 5A 71  display_on"} + redX;
}
