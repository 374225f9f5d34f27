#include "robot_state.h"

namespace rtde_client {

bool RobotState::lockUpdateStateMutex()
{
    update_state_mutex_.lock();
    return true;
}

bool RobotState::unlockUpdateStateMutex()
{
    update_state_mutex_.unlock();
    return true;
}

}  // namespace rtde_client
