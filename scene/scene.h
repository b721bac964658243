// The scene drawn every frame: backdrop, letterbox bars, the spinning triangle tree and the snowflakes.
#pragma once

// Animation angle of the tree and the snowflakes; +0.05 after every drawn frame, never wrapped (main thread).
extern float treeAngle;

// Draws one complete frame into the back buffer and advances the scene's animation. Always true.
bool DrawScene();
void DrawTree(float angle);
void DrawTreeTriangle(float angle, float x, float y, float z);
void DrawSnowflake(float x, float y, float z, float angle);
