#include "app/qt/display_aspect.h"

double DisplayAspect(int aspectCode, int width, int height) {
    switch (aspectCode) {
        case 1:  // square samples: the coded size is the shape
            return width > 0 && height > 0 ? static_cast<double>(width) / height : 4.0 / 3.0;
        case 3:
            return 16.0 / 9.0;
        case 4:
            return 2.21;
        default:  // 4:3, and what a damaged header leaves
            return 4.0 / 3.0;
    }
}
