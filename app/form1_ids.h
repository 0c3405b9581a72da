// Control ids of the tool window's children (GetDlgCtrlID), in tab order.
#pragma once

namespace kavrelo {

enum Form1ControlId : int {
    kIdHScroll1 = 100,
    kIdLabel1 = 101,
    kIdLabel2 = 102,
    kIdLabel4 = 104,
    kIdLabel5 = 105,
    kIdLabel3 = 103,
    kIdLabel6 = 106,
    kIdText1 = 107,
};

}  // namespace kavrelo
