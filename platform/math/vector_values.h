#pragma once
// Value-returning forms of the vector functions, for use inside expressions.
#include "platform/math/d3dx_math.h"

inline D3DXVECTOR3 Unit(const D3DXVECTOR3& v)
{
    D3DXVECTOR3 out;
    D3DXVec3Normalize(&out, &v);
    return out;
}

inline D3DXVECTOR3 Cross(const D3DXVECTOR3& a, const D3DXVECTOR3& b)
{
    D3DXVECTOR3 out;
    D3DXVec3Cross(&out, &a, &b);
    return out;
}
