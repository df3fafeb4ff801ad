#pragma once
// The shape a picture is shown in, from its sequence header.

// aspect_ratio_information (1 square samples, 2 4:3, 3 16:9, 4 2.21:1) and
// the coded size: width / height on screen.
double DisplayAspect(int aspectCode, int width, int height);
