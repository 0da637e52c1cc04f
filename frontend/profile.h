#pragma once
// The two programs' profiles.

#include "run/profile.h"

const Profile& tarnwickProfile();
const Profile& pelloryProfile();
