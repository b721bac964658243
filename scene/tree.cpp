// The winter scene behind the greeting: the tree of spinning triangle pairs, the snowflakes, the backdrop
// and the letterbox bars.
#include "scene/scene.h"

#include "platform/gl.h"

#include <cmath>

float treeAngle = 0.0f;

// One line segment of a snowflake, in the flake's own frame.
struct FlakeSegment {
    float x1, y1, x2, y2;
};

static const FlakeSegment SnowflakeSegments[15] = {
    {0.0f, 0.0526f, 0.0f, -0.0526f},           // the three arms through the centre
    {0.0466f, 0.0359f, -0.0466f, -0.0359f},
    {-0.0466f, 0.0359f, 0.0466f, -0.0359f},
    {0.0219f, 0.0427f, 0.0f, 0.0323f},         // V-shaped barbs on the vertical arm
    {0.0f, 0.0323f, -0.0219f, 0.0427f},
    {0.0219f, -0.0427f, 0.0f, -0.0323f},
    {0.0f, -0.0323f, -0.0219f, -0.0427f},
    {0.0309f, 0.0359f, 0.0309f, 0.0148f},      // hooked barbs on the slanted arms
    {0.0309f, 0.0148f, 0.0497f, 0.0045f},
    {-0.0309f, 0.0359f, -0.0309f, 0.0148f},
    {-0.0309f, 0.0148f, -0.0497f, 0.0045f},
    {0.0309f, -0.0359f, 0.0309f, -0.0148f},
    {0.0309f, -0.0148f, 0.0497f, -0.0045f},
    {-0.0309f, -0.0359f, -0.0309f, -0.0148f},
    {-0.0309f, -0.0148f, -0.0497f, -0.0045f},
};

bool DrawScene()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    DrawTree(treeAngle);
    treeAngle += 0.05f;
    DrawGreeting();
    return true;
}

void DrawTree(float angle)
{
    // Everything after this, for the rest of the frame, is placed relative to this plane.
    glTranslatef(0.0f, 0.0f, -5.8f);

    float theta = angle;
    float y = 10.0f;
    do {
        float z = -3.0f * std::sin(theta) - 3.0f;
        DrawTreeTriangle(theta, 0.0f, y, z);
        DrawTreeTriangle(-theta, 1.0f, y, z);
        theta = theta + 0.5f;
        y = y - 1.0f;
    } while (y > -10.0f);

    DrawSnowflake(1.15f, 0.83f, 3.5f, theta);
    DrawSnowflake(1.0f, 0.83f, 3.5f, theta + 10.0f);
    DrawSnowflake(0.85f, 0.83f, 3.5f, theta + 20.0f);

    glBegin(GL_QUADS);
    glColor3ub(125, 167, 217);
    glVertex3f(-20.0f, 15.0f, -30.0f);
    glVertex3f(20.0f, 15.0f, -30.0f);
    glVertex3f(20.0f, -15.0f, -30.0f);
    glVertex3f(-20.0f, -15.0f, -30.0f);
    glEnd();

    // The bars are not symmetric: the lower one's inner edge is at -1.94, the upper one's at 2.2.
    glBegin(GL_QUADS);
    glColor3ub(0, 0, 0);
    glVertex3f(-4.0f, 2.2f, -1.0f);
    glVertex3f(4.0f, 2.2f, -1.0f);
    glVertex3f(4.0f, 3.0f, -1.0f);
    glVertex3f(-4.0f, 3.0f, -1.0f);
    glVertex3f(-4.0f, -1.94f, -1.0f);
    glVertex3f(4.0f, -1.94f, -1.0f);
    glVertex3f(4.0f, -3.0f, -1.0f);
    glVertex3f(-4.0f, -3.0f, -1.0f);
    glEnd();
}

void DrawTreeTriangle(float angle, float x, float y, float z)
{
    glPushMatrix();
    glTranslatef(x, y, z);
    glRotatef(angle * 40.0f, 0.0f, 0.0f, 1.0f);
    glShadeModel(GL_SMOOTH);
    glBegin(GL_TRIANGLES);
    glColor3ub(103, 145, 195);
    glVertex3f(0.0f, 2.0f, 5.0f * std::sin(angle) - 10.0f);
    glVertex3f(-2.0f, -2.0f, 5.0f * std::cos(angle + 1.0f) - 10.0f);
    glVertex3f(2.0f, -2.0f, 5.0f * std::cos(angle) - 10.0f);
    glEnd();
    glPopMatrix();
}

void DrawSnowflake(float x, float y, float z, float angle)
{
    glColor3ub(255, 255, 255);
    glPushMatrix();
    glTranslated(x, y, z);
    glRotatef(50.0f * std::sin(angle), 0.0f, 0.0f, 1.0f);
    glLineWidth(2.0f);
    glBegin(GL_LINES);
    for (const FlakeSegment& segment : SnowflakeSegments) {
        glVertex3f(segment.x1, segment.y1, 0.0f);
        glVertex3f(segment.x2, segment.y2, 0.0f);
    }
    glEnd();
    glPopMatrix();
}
