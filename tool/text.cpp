#include "text.h"

namespace kavrelo {

Text::Text(std::u16string_view s) {
    if (s.size() >= kCapacity) {
        throw Error(ErrorCode::ControlAccess, u"控件文本过长。");
    }
    s.copy(buf_, s.size());
    length_ = s.size();
    buf_[length_] = u'\0';
}

}  // namespace kavrelo
